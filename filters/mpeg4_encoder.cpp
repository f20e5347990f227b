#include "filters/mpeg4_encoder.h"

#include <gst/video/video.h>

#include <algorithm>
#include <memory>
#include <mutex>

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

// Shared by the probes on the encoder's two pads.
struct TimeCarrier {
  GstElement* encoder = nullptr;  // borrowed: the probes go with its pads
  std::mutex mutex;
  GstSegment input_segment{};  // guarded by mutex
  bool has_segment = false;    // guarded by mutex
};

void DeleteCarrier(gpointer data) { delete static_cast<std::shared_ptr<TimeCarrier>*>(data); }

TimeCarrier& CarrierOf(gpointer data) { return **static_cast<std::shared_ptr<TimeCarrier>*>(data); }

void ApplyFormat(GstElement* encoder, GstEvent* caps_event) {
  GstCaps* caps = nullptr;
  gst_event_parse_caps(caps_event, &caps);
  GstVideoInfo video;
  if (!caps || !gst_video_info_from_caps(&video, caps)) return;
  // The codec is opened when these caps reach it, with the settings it has then.
  g_object_set(encoder, "gop-size",
               Mpeg4Encoder::KeyframeIntervalFor(GST_VIDEO_INFO_FPS_N(&video),
                                                 GST_VIDEO_INFO_FPS_D(&video)),
               "bitrate",
               Mpeg4Encoder::BitRateFor(GST_VIDEO_INFO_WIDTH(&video), GST_VIDEO_INFO_HEIGHT(&video)),
               nullptr);
}

GstPadProbeReturn OnEncoderInput(GstPad*, GstPadProbeInfo* info, gpointer data) {
  TimeCarrier& carrier = CarrierOf(data);
  if (GST_PAD_PROBE_INFO_TYPE(info) & GST_PAD_PROBE_TYPE_EVENT_DOWNSTREAM) {
    GstEvent* event = GST_PAD_PROBE_INFO_EVENT(info);
    if (GST_EVENT_TYPE(event) == GST_EVENT_CAPS) {
      ApplyFormat(carrier.encoder, event);
    } else if (GST_EVENT_TYPE(event) == GST_EVENT_SEGMENT) {
      const GstSegment* segment = nullptr;
      gst_event_parse_segment(event, &segment);
      std::lock_guard lock(carrier.mutex);
      gst_segment_copy_into(segment, &carrier.input_segment);
      carrier.has_segment = true;
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
  return GST_PAD_PROBE_OK;
}

GstPadProbeReturn OnEncoderOutput(GstPad*, GstPadProbeInfo* info, gpointer data) {
  if (GST_PAD_PROBE_INFO_TYPE(info) & GST_PAD_PROBE_TYPE_EVENT_DOWNSTREAM) {
    GstEvent* event = GST_PAD_PROBE_INFO_EVENT(info);
    if (GST_EVENT_TYPE(event) != GST_EVENT_SEGMENT) return GST_PAD_PROBE_OK;
    TimeCarrier& carrier = CarrierOf(data);
    std::lock_guard lock(carrier.mutex);
    if (!carrier.has_segment) return GST_PAD_PROBE_OK;
    GstEvent* replaced = gst_event_new_segment(&carrier.input_segment);
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

}  // namespace

Mpeg4Encoder::Mpeg4Encoder() : GstFilter(CLSID_Mpeg4Encoder) {
  EnsureGStreamer();
  GstElement* bin = gst_bin_new(nullptr);
  encoder_ = gst_element_factory_make("avenc_mpeg4", nullptr);
  // Only the simple-profile elementary stream leaves (the encoder could also
  // label its output as DivX).
  GstElement* output = gst_element_factory_make("capsfilter", nullptr);
  if (encoder_ && output) {
    gst_bin_add_many(GST_BIN(bin), encoder_, output, nullptr);
    GstCapsRef stream = GstCapsRef::Adopt(gst_caps_from_string(
        "video/mpeg, mpegversion=(int)4, systemstream=(boolean)false, profile=(string)simple"));
    g_object_set(output, "caps", stream.get(), nullptr);
    gst_element_link(encoder_, output);
    g_object_set(encoder_, "max-bframes", 0, "gop-size",
                 KeyframeIntervalFor(30, 1), "bitrate", BitRateFor(640, 480), nullptr);
    // Left at its default, "flags" has no global_header: the configuration
    // headers go in band before every keyframe, not into the caps.
    GstPadRef sink = GstPadRef::Adopt(gst_element_get_static_pad(encoder_, "sink"));
    GstPadRef src = GstPadRef::Adopt(gst_element_get_static_pad(encoder_, "src"));
    auto carrier = std::make_shared<TimeCarrier>();
    carrier->encoder = encoder_;
    constexpr auto kProbeTypes = static_cast<GstPadProbeType>(
        GST_PAD_PROBE_TYPE_BUFFER | GST_PAD_PROBE_TYPE_EVENT_DOWNSTREAM);
    gst_pad_add_probe(sink.get(), kProbeTypes, OnEncoderInput,
                      new std::shared_ptr<TimeCarrier>(carrier), DeleteCarrier);
    gst_pad_add_probe(src.get(), kProbeTypes, OnEncoderOutput,
                      new std::shared_ptr<TimeCarrier>(carrier), DeleteCarrier);
    GstPadRef out = GstPadRef::Adopt(gst_element_get_static_pad(output, "src"));
    gst_element_add_pad(bin, gst_ghost_pad_new("in", sink.get()));
    gst_element_add_pad(bin, gst_ghost_pad_new("out", out.get()));
  } else {
    if (encoder_) gst_object_unref(gst_object_ref_sink(encoder_));
    if (output) gst_object_unref(gst_object_ref_sink(output));
    encoder_ = nullptr;
  }
  SetElement(bin);
}

Mpeg4Encoder::~Mpeg4Encoder() = default;

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
