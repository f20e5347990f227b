#include "filters/mpeg4_encoder.h"

#include <gst/video/video.h>

#include <gst/app/gstappsink.h>
#include <gst/app/gstappsrc.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <memory>
#include <mutex>

#include "filters/encoder_dialog.h"
#include "filters/filter_classes.h"
#include "platform/com/com.h"

namespace {

constexpr int kReferenceBitRate = 1'500'000;  // at 640x480
constexpr std::int64_t kReferenceArea = 640 * 480;

// Debian 12's avenc_mpeg4 stamps all its output with one and the same time,
// and the encoder base class then shifts the output segment to make room for
// it. The input frame's time rides across the encoder as a reference-timestamp
// meta (the encoder base class copies untagged metas to the output frame), so
// each output frame gets back exactly its own input's time, dropped frames
// notwithstanding; the output segment is the input's again, so those times
// mean what they meant upstream.
GstStaticCaps capture_time_caps = GST_STATIC_CAPS("timestamp/x-presenter-link-capture");

bool EqualIgnoringCase(std::u16string_view a, std::u16string_view b) {
  const auto lower = [](char16_t c) -> char16_t { return c >= u'A' && c <= u'Z' ? c + 32 : c; };
  return a.size() == b.size() &&
         std::equal(a.begin(), a.end(), b.begin(),
                    [&](char16_t x, char16_t y) { return lower(x) == lower(y); });
}

GstCapsRef CaptureTimeCaps() { return GstCapsRef::Adopt(gst_static_caps_get(&capture_time_caps)); }

std::shared_ptr<Mpeg4Encoder::Codec>& CodecOf(gpointer data) {
  return *static_cast<std::shared_ptr<Mpeg4Encoder::Codec>*>(data);
}

void DeleteCodecRef(gpointer data) { delete static_cast<std::shared_ptr<Mpeg4Encoder::Codec>*>(data); }

gpointer NewCodecRef(const std::shared_ptr<Mpeg4Encoder::Codec>& codec) {
  return new std::shared_ptr<Mpeg4Encoder::Codec>(codec);
}

// libav's rate control spends bit_rate / ticks bits a frame, with ticks the
// codec's time base per second, and Debian 12's gst-libav (1.22.0) gives the
// MPEG-4 codec a time base of 1/65535 s whatever the frame rate: its bit rate
// setting then starves every frame, and the stream sits at the coarsest
// quantizer. Which time base the installed gst-libav uses is measured once, by
// the times the codec gives two frames that come without a time of their own
// (it numbers them one tick apart).
struct CodecClock {
  bool follows_frame_rate = true;  // time base 1/frame rate: no correction
  double ticks_per_second = 0;     // otherwise
};

CodecClock MeasureCodecClock() {
  CodecClock clock;
  GErrorOwner error;
  GstElementRef pipeline = AdoptFloating(gst_parse_launch(
      "appsrc name=in format=time caps=video/x-raw,format=I420,width=32,height=32,framerate=30/1 "
      "! avenc_mpeg4 max-bframes=0 ! appsink name=out sync=false",
      error.out()));
  if (!pipeline) return clock;
  GstElementRef in = GstElementRef::Adopt(gst_bin_get_by_name(GST_BIN(pipeline.get()), "in"));
  GstElementRef out = GstElementRef::Adopt(gst_bin_get_by_name(GST_BIN(pipeline.get()), "out"));
  gst_element_set_state(pipeline.get(), GST_STATE_PLAYING);
  GstClockTime times[2] = {GST_CLOCK_TIME_NONE, GST_CLOCK_TIME_NONE};
  for (GstClockTime& time : times) {
    GstBuffer* frame = gst_buffer_new_allocate(nullptr, 32 * 32 * 3 / 2, nullptr);
    gst_buffer_memset(frame, 0, 128, 32 * 32 * 3 / 2);
    if (gst_app_src_push_buffer(GST_APP_SRC(in.get()), frame) != GST_FLOW_OK) break;
    GstSampleRef sample = GstSampleRef::Adopt(
        gst_app_sink_try_pull_sample(GST_APP_SINK(out.get()), 5 * GST_SECOND));
    if (!sample) break;
    time = GST_BUFFER_PTS(gst_sample_get_buffer(sample.get()));
  }
  gst_element_set_state(pipeline.get(), GST_STATE_NULL);
  if (times[0] == GST_CLOCK_TIME_NONE || times[1] == GST_CLOCK_TIME_NONE) return clock;
  const auto tick = static_cast<std::int64_t>(times[1] - times[0]);
  if (tick <= 0) return clock;
  const double ticks_per_second = static_cast<double>(GST_SECOND) / static_cast<double>(tick);
  // 30 ticks a second: the time base is the frame rate's.
  if (std::abs(ticks_per_second - 30) > 1) clock = {false, ticks_per_second};
  return clock;
}

const CodecClock& TheCodecClock() {
  static const CodecClock clock = MeasureCodecClock();
  return clock;
}

bool IsValid(const Mpeg4EncoderSettings& s) {
  const bool rate_ok = s.bit_rate == 0 || (s.bit_rate >= 10'000 && s.bit_rate <= 50'000'000);
  const bool interval_ok = s.keyframe_interval >= 0 && s.keyframe_interval <= 600;
  const bool quantizers_ok = s.quantizer_min >= 1 && s.quantizer_min <= s.quantizer_max &&
                             s.quantizer_max <= 31;
  return rate_ok && interval_ok && quantizers_ok;
}

GstPadProbeReturn OnEncoderInput(GstPad* pad, GstPadProbeInfo* info, gpointer data);
GstPadProbeReturn OnEncoderOutput(GstPad* pad, GstPadProbeInfo* info, gpointer data);

}  // namespace

// What the filter and the probes on its pads share. The codec element is
// replaced on the streaming thread when the settings change while it runs.
struct Mpeg4Encoder::Codec : std::enable_shared_from_this<Codec> {
  GstElement* bin = nullptr;     // borrowed: the filter's element
  GstElement* output = nullptr;  // borrowed: the caps filter after the codec, in the bin
  GstPad* input = nullptr;       // borrowed: the bin's ghost pad "in"

  std::mutex mutex;
  // Guarded by mutex.
  GstElement* encoder = nullptr;  // borrowed: the libav codec, in the bin
  Mpeg4EncoderSettings settings;
  bool reopen_pending = false;
  GstSegment input_segment{};
  bool has_segment = false;

  // A new libav codec with the settings, its probes on its pads (floating).
  GstElement* NewEncoder(const Mpeg4EncoderSettings& s) {
    GstElement* element = gst_element_factory_make("avenc_mpeg4", nullptr);
    if (!element) return nullptr;
    g_object_set(element, "max-bframes", 0, "gop-size",
                 s.keyframe_interval ? s.keyframe_interval : KeyframeIntervalFor(30, 1), "bitrate",
                 s.bit_rate ? s.bit_rate : BitRateFor(640, 480), "qmin", s.quantizer_min, "qmax",
                 s.quantizer_max, nullptr);
    // Left at its default, "flags" has no global_header: the configuration
    // headers go in band before every keyframe, not into the caps.
    constexpr auto kProbeTypes = static_cast<GstPadProbeType>(GST_PAD_PROBE_TYPE_BUFFER |
                                                              GST_PAD_PROBE_TYPE_EVENT_DOWNSTREAM);
    GstPadRef sink = GstPadRef::Adopt(gst_element_get_static_pad(element, "sink"));
    GstPadRef src = GstPadRef::Adopt(gst_element_get_static_pad(element, "src"));
    gst_pad_add_probe(sink.get(), kProbeTypes, OnEncoderInput, NewCodecRef(shared_from_this()),
                      DeleteCodecRef);
    gst_pad_add_probe(src.get(), kProbeTypes, OnEncoderOutput, NewCodecRef(shared_from_this()),
                      DeleteCodecRef);
    return element;
  }

  // The codec is opened when the caps reach it, with the settings it has then.
  void ApplyFormat(GstElement* element, GstEvent* caps_event) {
    GstCaps* caps = nullptr;
    gst_event_parse_caps(caps_event, &caps);
    GstVideoInfo video;
    if (!caps || !gst_video_info_from_caps(&video, caps)) return;
    Mpeg4EncoderSettings s;
    {
      std::lock_guard lock(mutex);
      s = settings;
    }
    const int rate_n = GST_VIDEO_INFO_FPS_N(&video);
    const int rate_d = GST_VIDEO_INFO_FPS_D(&video);
    const int bit_rate =
        s.bit_rate ? s.bit_rate : BitRateFor(GST_VIDEO_INFO_WIDTH(&video), GST_VIDEO_INFO_HEIGHT(&video));
    g_object_set(element, "gop-size",
                 s.keyframe_interval ? s.keyframe_interval : KeyframeIntervalFor(rate_n, rate_d),
                 "bitrate", CodecBitRateFor(bit_rate, rate_n, rate_d),
                 // How far the rate may stray, in real bits: about a second's worth.
                 "bitrate-tolerance", bit_rate, nullptr);
  }

  // On the streaming thread, before a frame enters: swaps the codec for a new one
  // with the settings now. gst-libav reads its settings only when it opens the
  // codec, and opens it only for new caps; a new element opens it for the caps
  // the bin's input pad hands it again (sticky events go to a new peer first),
  // so the frame that comes is encoded as a keyframe with the configuration.
  void Reopen() {
    GstElement* old_encoder = nullptr;
    Mpeg4EncoderSettings s;
    {
      std::lock_guard lock(mutex);
      old_encoder = encoder;
      s = settings;
      reopen_pending = false;
    }
    GstElement* fresh = NewEncoder(s);
    if (!fresh) return;  // keeps the codec it has

    // Nothing is held back without B-frames; an end of stream makes sure all is
    // out, and goes no further than the old codec's output.
    GstPadRef old_sink = GstPadRef::Adopt(gst_element_get_static_pad(old_encoder, "sink"));
    GstPadRef old_src = GstPadRef::Adopt(gst_element_get_static_pad(old_encoder, "src"));
    gst_pad_add_probe(
        old_src.get(), GST_PAD_PROBE_TYPE_EVENT_DOWNSTREAM,
        [](GstPad*, GstPadProbeInfo* info, gpointer) {
          return GST_EVENT_TYPE(GST_PAD_PROBE_INFO_EVENT(info)) == GST_EVENT_EOS ? GST_PAD_PROBE_DROP
                                                                                 : GST_PAD_PROBE_OK;
        },
        nullptr, nullptr);
    gst_pad_send_event(old_sink.get(), gst_event_new_eos());
    gst_element_set_state(old_encoder, GST_STATE_NULL);
    gst_bin_remove(GST_BIN(bin), old_encoder);  // unlinks it; the bin's reference goes

    gst_bin_add(GST_BIN(bin), fresh);
    gst_element_link(fresh, output);
    GstPadRef fresh_sink = GstPadRef::Adopt(gst_element_get_static_pad(fresh, "sink"));
    gst_ghost_pad_set_target(GST_GHOST_PAD(input), fresh_sink.get());
    gst_element_sync_state_with_parent(fresh);
    std::lock_guard lock(mutex);
    encoder = fresh;
  }
};

namespace {

GstPadProbeReturn OnEncoderInput(GstPad* pad, GstPadProbeInfo* info, gpointer data) {
  Mpeg4Encoder::Codec& codec = *CodecOf(data);
  if (GST_PAD_PROBE_INFO_TYPE(info) & GST_PAD_PROBE_TYPE_EVENT_DOWNSTREAM) {
    GstEvent* event = GST_PAD_PROBE_INFO_EVENT(info);
    if (GST_EVENT_TYPE(event) == GST_EVENT_CAPS) {
      GstElementRef element = GstElementRef::Adopt(gst_pad_get_parent_element(pad));
      if (element) codec.ApplyFormat(element.get(), event);
    } else if (GST_EVENT_TYPE(event) == GST_EVENT_SEGMENT) {
      const GstSegment* segment = nullptr;
      gst_event_parse_segment(event, &segment);
      std::lock_guard lock(codec.mutex);
      gst_segment_copy_into(segment, &codec.input_segment);
      codec.has_segment = true;
    }
    return GST_PAD_PROBE_OK;
  }
  GstBuffer* buffer = GST_PAD_PROBE_INFO_BUFFER(info);
  if (!GST_BUFFER_PTS_IS_VALID(buffer)) return GST_PAD_PROBE_OK;
  // Copies the buffer's header only when it is shared; the pixels stay put.
  buffer = gst_buffer_make_writable(buffer);
  GST_PAD_PROBE_INFO_DATA(info) = buffer;
  GstCapsRef caps = CaptureTimeCaps();
  gst_buffer_add_reference_timestamp_meta(buffer, caps.get(), GST_BUFFER_PTS(buffer),
                                          GST_CLOCK_TIME_NONE);
  // The codec numbers the frames itself (see CodecBitRateFor); the time comes
  // back from the meta on the way out.
  GST_BUFFER_PTS(buffer) = GST_CLOCK_TIME_NONE;
  GST_BUFFER_DTS(buffer) = GST_CLOCK_TIME_NONE;
  return GST_PAD_PROBE_OK;
}

GstPadProbeReturn OnEncoderOutput(GstPad*, GstPadProbeInfo* info, gpointer data) {
  if (GST_PAD_PROBE_INFO_TYPE(info) & GST_PAD_PROBE_TYPE_EVENT_DOWNSTREAM) {
    GstEvent* event = GST_PAD_PROBE_INFO_EVENT(info);
    if (GST_EVENT_TYPE(event) != GST_EVENT_SEGMENT) return GST_PAD_PROBE_OK;
    Mpeg4Encoder::Codec& codec = *CodecOf(data);
    std::lock_guard lock(codec.mutex);
    if (!codec.has_segment) return GST_PAD_PROBE_OK;
    GstEvent* replaced = gst_event_new_segment(&codec.input_segment);
    gst_event_set_seqnum(replaced, gst_event_get_seqnum(event));
    gst_event_unref(event);
    GST_PAD_PROBE_INFO_DATA(info) = replaced;
    return GST_PAD_PROBE_OK;
  }
  GstBuffer* buffer = GST_PAD_PROBE_INFO_BUFFER(info);
  GstCapsRef caps = CaptureTimeCaps();
  if (!gst_buffer_get_reference_timestamp_meta(buffer, caps.get())) return GST_PAD_PROBE_OK;
  buffer = gst_buffer_make_writable(buffer);
  GST_PAD_PROBE_INFO_DATA(info) = buffer;
  GstReferenceTimestampMeta* meta = gst_buffer_get_reference_timestamp_meta(buffer, caps.get());
  // No B-frames: decode order is presentation order.
  GST_BUFFER_PTS(buffer) = meta->timestamp;
  GST_BUFFER_DTS(buffer) = meta->timestamp;
  gst_buffer_remove_meta(buffer, &meta->parent);
  return GST_PAD_PROBE_OK;
}

// On the bin's input, ahead of the first frame after a change while running.
GstPadProbeReturn OnReopen(GstPad*, GstPadProbeInfo*, gpointer data) {
  Mpeg4Encoder::Codec& codec = *CodecOf(data);
  // A state change of the bin under way owns its children now: try again with
  // the next frame rather than wait for it here, on its streaming thread.
  GRecMutex* state_lock = GST_STATE_GET_LOCK(codec.bin);
  if (!g_rec_mutex_trylock(state_lock)) return GST_PAD_PROBE_OK;
  codec.Reopen();
  g_rec_mutex_unlock(state_lock);
  return GST_PAD_PROBE_REMOVE;
}

bool IsStopped(GstElement* element) {
  GstState current = GST_STATE_VOID_PENDING;
  GstState pending = GST_STATE_VOID_PENDING;
  gst_element_get_state(element, &current, &pending, 0);
  return current <= GST_STATE_READY && pending <= GST_STATE_READY;
}

}  // namespace

Mpeg4Encoder::Mpeg4Encoder() : ComExtends(CLSID_Mpeg4Encoder) {
  EnsureGStreamer();
  TheCodecClock();  // measured here once, not on a streaming thread
  GstElement* bin = gst_bin_new(nullptr);
  auto codec = std::make_shared<Codec>();
  GstElement* encoder = codec->NewEncoder(codec->settings);
  // Only the simple-profile elementary stream leaves (the encoder could also
  // label its output as DivX).
  GstElement* output = gst_element_factory_make("capsfilter", nullptr);
  if (encoder && output) {
    gst_bin_add_many(GST_BIN(bin), encoder, output, nullptr);
    GstCapsRef stream = GstCapsRef::Adopt(gst_caps_from_string(
        "video/mpeg, mpegversion=(int)4, systemstream=(boolean)false, profile=(string)simple"));
    g_object_set(output, "caps", stream.get(), nullptr);
    gst_element_link(encoder, output);
    GstPadRef sink = GstPadRef::Adopt(gst_element_get_static_pad(encoder, "sink"));
    GstPadRef out = GstPadRef::Adopt(gst_element_get_static_pad(output, "src"));
    GstPad* input = gst_ghost_pad_new("in", sink.get());
    gst_element_add_pad(bin, input);
    gst_element_add_pad(bin, gst_ghost_pad_new("out", out.get()));
    codec->bin = bin;
    codec->output = output;
    codec->input = input;
    codec->encoder = encoder;
    codec_ = std::move(codec);
  } else {
    if (encoder) gst_object_unref(gst_object_ref_sink(encoder));
    if (output) gst_object_unref(gst_object_ref_sink(output));
  }
  SetElement(bin);
}

Mpeg4Encoder::~Mpeg4Encoder() = default;

HRESULT Mpeg4Encoder::GetSettings(Mpeg4EncoderSettings* settings) {
  if (!settings) return E_POINTER;
  if (!codec_) return E_UNEXPECTED;
  std::lock_guard lock(codec_->mutex);
  *settings = codec_->settings;
  return S_OK;
}

HRESULT Mpeg4Encoder::SetSettings(const Mpeg4EncoderSettings& settings) {
  if (!IsValid(settings)) return E_INVALIDARG;
  if (!codec_) return E_UNEXPECTED;
  std::lock_guard lock(codec_->mutex);
  if (codec_->settings == settings) return S_OK;
  codec_->settings = settings;
  if (IsStopped(Element())) {
    // The codec opens with these when the graph starts (rate and interval are
    // worked out from the picture then).
    g_object_set(codec_->encoder, "qmin", settings.quantizer_min, "qmax", settings.quantizer_max,
                 nullptr);
    return S_OK;
  }
  if (!codec_->reopen_pending) {
    codec_->reopen_pending = true;
    gst_pad_add_probe(codec_->input,
                      static_cast<GstPadProbeType>(GST_PAD_PROBE_TYPE_BUFFER |
                                                   GST_PAD_PROBE_TYPE_BUFFER_LIST),
                      OnReopen, NewCodecRef(codec_), DeleteCodecRef);
  }
  return S_OK;
}

HRESULT Mpeg4Encoder::ShowDialog(int dialog, OAHWND window) {
  switch (dialog) {
    case VfwCompressDialog_QueryConfig:
      return codec_ ? S_OK : S_FALSE;
    case VfwCompressDialog_Config:
      if (!codec_) return E_UNEXPECTED;
      return ShowEncoderDialog(window, this);
    case VfwCompressDialog_About:
    case VfwCompressDialog_QueryAbout:
      return E_NOTIMPL;  // no about box
  }
  return E_INVALIDARG;
}

int Mpeg4Encoder::CodecBitRateFor(int bit_rate, int rate_numerator, int rate_denominator) {
  const CodecClock& clock = TheCodecClock();
  if (clock.follows_frame_rate || rate_numerator <= 0 || rate_denominator <= 0) return bit_rate;
  const double frames_per_second = static_cast<double>(rate_numerator) / rate_denominator;
  const double setting = bit_rate * clock.ticks_per_second / frames_per_second;
  return static_cast<int>(std::min<double>(setting, std::numeric_limits<int>::max()));
}

int Mpeg4Encoder::MaxBitRateFor(int rate_numerator, int rate_denominator) {
  const CodecClock& clock = TheCodecClock();
  constexpr double kMost = std::numeric_limits<int>::max();
  if (clock.follows_frame_rate || rate_numerator <= 0 || rate_denominator <= 0) return static_cast<int>(kMost);
  const double frames_per_second = static_cast<double>(rate_numerator) / rate_denominator;
  return static_cast<int>(std::min(kMost, kMost * frames_per_second / clock.ticks_per_second));
}

int Mpeg4Encoder::BitRateFor(int width, int height) {
  const std::int64_t area = std::max<std::int64_t>(1, std::int64_t{width} * height);
  const std::int64_t rate = kReferenceBitRate * area / kReferenceArea;
  return static_cast<int>(std::clamp<std::int64_t>(rate, 100'000, 20'000'000));
}

int Mpeg4Encoder::KeyframeIntervalFor(int rate_numerator, int rate_denominator) {
  if (rate_numerator <= 0 || rate_denominator <= 0) return 30;  // unknown rate
  return std::max(1, rate_numerator / rate_denominator);
}

HRESULT CreateMpeg4Encoder(REFIID riid, void** object) {
  if (!object) return E_POINTER;
  *object = nullptr;
  auto encoder = MakeComObject<Mpeg4Encoder>();
  if (!encoder->IsComplete()) return REGDB_E_CLASSNOTREG;
  return encoder->QueryInterface(riid, object);
}

std::u16string_view VideoCompressorNameOf(std::u16string_view display_name) {
  constexpr std::u16string_view kPrefix = u"@device:cm:";
  if (display_name.size() < kPrefix.size() + 39 ||
      !EqualIgnoringCase(display_name.substr(0, kPrefix.size()), kPrefix)) {
    return {};
  }
  const std::u16string_view category = display_name.substr(kPrefix.size(), 38);
  const auto parsed = GuidFromString(Utf16ToUtf8(category));
  if (!parsed || *parsed != CLSID_VideoCompressorCategory) return {};
  if (display_name[kPrefix.size() + 38] != u'\\') return {};
  return display_name.substr(kPrefix.size() + 39);
}

HRESULT ResolveCompressorDisplayName(std::u16string_view display_name, REFIID riid,
                                     void** object) {
  if (!object) return E_POINTER;
  *object = nullptr;
  const std::u16string_view codec = VideoCompressorNameOf(display_name);
  const bool is_xvid = EqualIgnoringCase(codec, u"xvid");
  if (!is_xvid) return MK_E_NOOBJECT;
  return CreateMpeg4Encoder(riid, object);
}
