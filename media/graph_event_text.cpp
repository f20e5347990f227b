#include "media/graph_event_text.h"

#include <cstdint>
#include <cstdio>
#include <iterator>
#include <string_view>

namespace {

struct EventRow {
  LONG code;
  std::string_view text;
};

// Sorted by code. Code 48's row has no blank before its hyphen; that is the line.
constexpr EventRow kEventRows[] = {
    {1, "EC_COMPLETE - All data from a particular stream has been rendered."},
    {2, "EC_USERABORT - The user has terminated playback."},
    {3, "EC_ERRORABORT - An operation was aborted because of an error."},
    {4, "EC_TIME - The requested reference time occurred (currently not used)."},
    {5, "EC_REPAINT - A video renderer requires a repaint."},
    {6, "EC_STREAM_ERROR_STOPPED - A stream has stopped because of an error."},
    {7, "EC_STREAM_ERROR_STILLPLAYING - An error has occurred in a stream. The stream is still playing."},
    {8, "EC_ERROR_STILLPLAYING - An asynchronous command to run the graph has failed."},
    {9, "EC_PALETTE_CHANGED - The video palette has changed."},
    {10, "EC_VIDEO_SIZE_CHANGED - The native video size has changed."},
    {11, "EC_QUALITY_CHANGE - The graph is dropping samples, for quality control."},
    {12, "EC_SHUTTING_DOWN - The filter graph is shutting down, prior to being destroyed."},
    {13, "EC_CLOCK_CHANGED - The reference clock has changed."},
    {14, "EC_PAUSED - A pause request has completed."},
    {16, "EC_OPENING_FILE - The graph is opening a file, or has finished opening a file."},
    {17, "EC_BUFFERING_DATA - The graph is buffering data, or has stopped buffering data."},
    {18, "EC_FULLSCREEN_LOST - The video renderer is switching out of full-screen mode."},
    {19, "EC_ACTIVATE - A video window is being activated or deactivated."},
    {20, "EC_NEED_RESTART - A filter is requesting that the graph be restarted."},
    {21, "EC_WINDOW_DESTROYED - The video renderer was destroyed or removed from the graph."},
    {22, "EC_DISPLAY_CHANGED - The display mode has changed."},
    {23, "EC_STARVATION - A filter is not receiving enough data."},
    {24, "EC_OLE_EVENT - A filter is passing a text string to the application."},
    {25, "EC_NOTIFY_WINDOW - Notifies a filter of the video renderer's window."},
    {26, "EC_STREAM_CONTROL_STOPPED - A stream-control start command has taken effect."},
    {27, "EC_STREAM_CONTROL_STARTED - A stream-control start command has taken effect."},
    {28, "EC_END_OF_SEGMENT - The end of a segment has been reached."},
    {29, "EC_SEGMENT_STARTED - A new segment has started."},
    {31, "EC_DEVICE_LOST - A Plug and Play device was removed or has become available again."},
    {36, "EC_STEP_COMPLETE - A filter performing frame stepping has stepped the specified number of frames."},
    {48, "EC_TIMECODE_AVAILABLE- Sent by filter supporting timecode."},
    {49, "EC_EXTDEVICE_MODE_CHANGE - Sent by filter supporting IAMExtDevice."},
    {80, "EC_GRAPH_CHANGED - The filter graph has changed."},
    {81, "EC_CLOCK_UNSET - notify the filter graph to unset the current graph clock."},
    {83, "EC_VMR_RENDERDEVICE_SET - Identifies the type of rendering mechanism the VMR is using to display video."},
    {512, "EC_SNDDEV_IN_ERROR - An audio device error has occurred on an input pin."},
    {513, "EC_SNDDEV_OUT_ERROR - An audio device error has occurred on an output pin."},
    {257, "EC_DVD_DOMAIN_CHANGE - Indicates the DVD Navigator's new domain."},
    {258, "EC_DVD_TITLE_CHANGE - Indicates when the current title number changes."},
    {259, "EC_DVD_CHAPTER_START - Signals that the DVD Navigator started playback of a new chapter in the current title."},
    {260, "EC_DVD_AUDIO_STREAM_CHANGE - Signals that the current audio stream number changed for the main title."},
    {261, "EC_DVD_SUBPICTURE_STREAM_CHANGE - Signals that the current subpicture stream number changed for the main title."},
    {262, "EC_DVD_ANGLE_CHANGE - Signals that either the number of available angles changed or that the current angle number changed."},
    {263, "EC_DVD_BUTTON_CHANGE - Signals that either the number of available buttons changed or that the currently selected button number changed."},
    {264, "EC_DVD_VALID_UOPS_CHANGE - Signals that the available set of IDVDControl2 interface methods has changed."},
    {265, "EC_DVD_STILL_ON - Signals the beginning of any still."},
    {266, "EC_DVD_STILL_OFF - Signals the end of any still."},
    {267, "EC_DVD_CURRENT_TIME - Signals the beginning of every video object unit (VOBU), a video segment which is 0.4 to 1.0 seconds in length."},
    {268, "EC_DVD_ERROR - Signals a DVD error condition."},
    {269, "EC_DVD_WARNING - Signals a DVD warning condition."},
    {270, "EC_DVD_CHAPTER_AUTOSTOP - Indicates that playback stopped as the result of a call to the IDvdControl2::PlayChaptersAutoStop method."},
    {271, "EC_DVD_NO_FP_PGC - Indicates that the DVD disc does not have a FP_PGC (First Play Program Chain)."},
    {272, "EC_DVD_PLAYBACK_RATE_CHANGE - Indicates that a playback rate change has been initiated and the new rate is in the parameter."},
    {273, "EC_DVD_PARENTAL_LEVEL_CHANGE - Signals that the parental level of the authored content is about to change."},
    {274, "EC_DVD_PLAYBACK_STOPPED - Indicates that playback has been stopped. The DVD Navigator has completed playback of the title and did not find any other branching instruction for subsequent playback."},
    {275, "EC_DVD_ANGLES_AVAILABLE - Indicates whether an angle block is being played and angle changes can be performed."},
    {276, "EC_DVD_PLAYPERIOD_AUTOSTOP - Indicates that the Navigator has finished playing the segment specified in a call to PlayPeriodInTitleAutoStop."},
    {277, "EC_DVD_BUTTON_AUTO_ACTIVATED - Signals that a menu button has been automatically activated per instructions on the disc."},
    {278, "EC_DVD_CMD_START - Signals that a particular command has begun."},
    {279, "EC_DVD_CMD_END - Signals that a particular command has completed."},
    {280, "EC_DVD_DISC_EJECTED - Signals that a disc has been ejected from the drive."},
    {281, "EC_DVD_DISC_INSERTED - Signals that a disc has been inserted into the drive."},
    {282, "EC_DVD_CURRENT_HMSF_TIME - Signals the current time in DVD_HMSF_TIMECODE format at the beginning of every VOBU, which occurs every .4 to 1.0 sec."},
    {283, "EC_DVD_KARAOKE_MODE - Indicates that the Navigator has either begun playing or finished playing karaoke data."},
};

static_assert(std::size(kEventRows) == 64);

}  // namespace

std::string GraphEventText(LONG code) {
  for (const EventRow& row : kEventRows) {
    if (row.code == code) return std::string(row.text);
  }
  char line[48];
  std::snprintf(line, sizeof line, "Unknow Graph Event ($%X)", static_cast<std::uint32_t>(code));
  return line;
}
