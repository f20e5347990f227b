#include "support/stamp_probe.h"

#include <gst/video/video.h>

#include "filters/frame_stamp.h"
#include "platform/dshow/gst_ref.h"

std::optional<std::uint16_t> StampProbedFrame(GstPad* pad, GstPadProbeInfo* info,
                                              const std::function<std::uint16_t()>& next_number) {
  GstCapsRef caps = GstCapsRef::Adopt(gst_pad_get_current_caps(pad));
  GstVideoInfo video;
  if (!caps || !gst_video_info_from_caps(&video, caps.get())) return std::nullopt;
  GstBuffer* buffer = gst_buffer_make_writable(GST_PAD_PROBE_INFO_BUFFER(info));
  GST_PAD_PROBE_INFO_DATA(info) = buffer;
  GstVideoFrame frame;
  if (!gst_video_frame_map(&frame, &video, buffer, GST_MAP_READWRITE)) return std::nullopt;
  const std::uint16_t number = next_number();
  const int width = GST_VIDEO_INFO_WIDTH(&video);
  const int height = GST_VIDEO_INFO_HEIGHT(&video);
  frame_stamp::StampLuma(static_cast<std::uint8_t*>(GST_VIDEO_FRAME_PLANE_DATA(&frame, 0)),
                         GST_VIDEO_FRAME_PLANE_STRIDE(&frame, 0), width, height, number);
  frame_stamp::StampChroma(static_cast<std::uint8_t*>(GST_VIDEO_FRAME_PLANE_DATA(&frame, 1)),
                           static_cast<std::uint8_t*>(GST_VIDEO_FRAME_PLANE_DATA(&frame, 2)),
                           GST_VIDEO_FRAME_PLANE_STRIDE(&frame, 1), width, height);
  gst_video_frame_unmap(&frame);
  return number;
}
