#include "bench/plain_pair.h"

#include <gst/app/gstappsink.h>
#include <gst/video/video.h>

#include <mutex>

#include "net/endpoint.h"
#include "support/stamp_probe.h"

namespace {

GstStaticCaps capture_time_caps = GST_STATIC_CAPS("timestamp/x-presenter-link-bench-capture");

GstCapsRef CaptureTimeCaps() { return GstCapsRef::Adopt(gst_static_caps_get(&capture_time_caps)); }

}  // namespace

struct PlainPair::Shared {
  std::atomic<std::uint32_t> next_number{0};

  std::mutex observer_mutex;
  frame_stamp::PaintObserver observer = nullptr;  // guarded by observer_mutex
  void* observer_context = nullptr;               // guarded by observer_mutex

  // The encoder's input segment, which replaces its shifted output segment.
  std::mutex segment_mutex;
  GstSegment input_segment{};  // guarded by segment_mutex
  bool has_segment = false;    // guarded by segment_mutex

  // videotestsrc's pad: stamp the number, note the capture time.
  static GstPadProbeReturn OnCaptured(GstPad* pad, GstPadProbeInfo* info, gpointer data) {
    auto* self = static_cast<Shared*>(data);
    const auto number = StampProbedFrame(
        pad, info, [self] { return static_cast<std::uint16_t>(self->next_number++); });
    if (number) frame_stamp::NoteCaptured(*number, frame_stamp::Clock::now());
    return GST_PAD_PROBE_OK;
  }

  // avenc_mpeg4's sink pad: the input time rides along in a meta.
  static GstPadProbeReturn OnEncoderInput(GstPad*, GstPadProbeInfo* info, gpointer data) {
    auto* self = static_cast<Shared*>(data);
    if (GST_PAD_PROBE_INFO_TYPE(info) & GST_PAD_PROBE_TYPE_EVENT_DOWNSTREAM) {
      GstEvent* event = GST_PAD_PROBE_INFO_EVENT(info);
      if (GST_EVENT_TYPE(event) == GST_EVENT_SEGMENT) {
        const GstSegment* segment = nullptr;
        gst_event_parse_segment(event, &segment);
        std::lock_guard lock(self->segment_mutex);
        gst_segment_copy_into(segment, &self->input_segment);
        self->has_segment = true;
      }
      return GST_PAD_PROBE_OK;
    }
    GstBuffer* buffer = GST_PAD_PROBE_INFO_BUFFER(info);
    if (!GST_BUFFER_PTS_IS_VALID(buffer)) return GST_PAD_PROBE_OK;
    buffer = gst_buffer_make_writable(buffer);
    GST_PAD_PROBE_INFO_DATA(info) = buffer;
    GstCapsRef caps = CaptureTimeCaps();
    gst_buffer_add_reference_timestamp_meta(buffer, caps.get(), GST_BUFFER_PTS(buffer),
                                            GST_CLOCK_TIME_NONE);
    return GST_PAD_PROBE_OK;
  }

  // avenc_mpeg4's source pad: the input time and segment put back.
  static GstPadProbeReturn OnEncoderOutput(GstPad*, GstPadProbeInfo* info, gpointer data) {
    auto* self = static_cast<Shared*>(data);
    if (GST_PAD_PROBE_INFO_TYPE(info) & GST_PAD_PROBE_TYPE_EVENT_DOWNSTREAM) {
      GstEvent* event = GST_PAD_PROBE_INFO_EVENT(info);
      if (GST_EVENT_TYPE(event) != GST_EVENT_SEGMENT) return GST_PAD_PROBE_OK;
      std::lock_guard lock(self->segment_mutex);
      if (!self->has_segment) return GST_PAD_PROBE_OK;
      GstEvent* replaced = gst_event_new_segment(&self->input_segment);
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
    GST_BUFFER_PTS(buffer) = meta->timestamp;  // no B-frames: decode order is display order
    GST_BUFFER_DTS(buffer) = meta->timestamp;
    gst_buffer_remove_meta(buffer, &meta->parent);
    return GST_PAD_PROBE_OK;
  }

  static GstFlowReturn OnSample(GstAppSink* sink, gpointer data) {
    auto* self = static_cast<Shared*>(data);
    GstSampleRef sample = GstSampleRef::Adopt(gst_app_sink_pull_sample(sink));
    if (!sample) return GST_FLOW_OK;
    const auto shown = frame_stamp::Clock::now();
    GstVideoInfo video;
    GstCaps* caps = gst_sample_get_caps(sample.get());
    GstVideoFrame frame;
    if (!caps || !gst_video_info_from_caps(&video, caps) ||
        !gst_video_frame_map(&frame, &video, gst_sample_get_buffer(sample.get()), GST_MAP_READ)) {
      return GST_FLOW_OK;
    }
    const auto number = frame_stamp::ReadRgb32(
        static_cast<const std::uint8_t*>(GST_VIDEO_FRAME_PLANE_DATA(&frame, 0)),
        GST_VIDEO_FRAME_PLANE_STRIDE(&frame, 0), GST_VIDEO_FRAME_WIDTH(&frame),
        GST_VIDEO_FRAME_HEIGHT(&frame));
    gst_video_frame_unmap(&frame);
    if (!number) return GST_FLOW_OK;
    const frame_stamp::PaintRecord record{
        *number, shown,
        frame_stamp::CaptureTime(*number).value_or(frame_stamp::Clock::time_point{})};
    std::lock_guard lock(self->observer_mutex);
    if (self->observer) self->observer(record, self->observer_context);
    return GST_FLOW_OK;
  }
};

PlainPair::PlainPair(Options options) : options_(options), shared_(std::make_shared<Shared>()) {
  shared_->next_number = options_.first_number;
}

PlainPair::~PlainPair() { Stop(); }

std::string PlainPair::SenderDescription() const {
  return "videotestsrc name=src is-live=true pattern=smpte horizontal-speed=4 num-buffers=" +
         std::to_string(options_.max_frames) +
         " ! video/x-raw,format=I420,width=640,height=480,framerate=30/1"
         " ! avenc_mpeg4 name=encoder max-bframes=0 gop-size=30 bitrate=1500000"
         " ! rtpmp4vpay pt=96 config-interval=-1"
         " ! udpsink host=" +
         std::string(net::kGroupAddress) + " port=" + std::to_string(net::kPort) +
         " auto-multicast=true ttl-mc=1 loop=true sync=false async=false";
}

std::string PlainPair::ReceiverDescription() const {
  std::string text = "udpsrc address=" + std::string(net::kGroupAddress) +
                     " port=" + std::to_string(net::kPort) +
                     " auto-multicast=true caps=\"application/x-rtp,media=video,clock-rate=90000,"
                     "encoding-name=MP4V-ES,payload=96\"";
  if (options_.receiver_defaults) {
    text += " ! rtpjitterbuffer ! rtpmp4vdepay ! avdec_mpeg4";
  } else {
    text += " ! rtpmp4vdepay ! avdec_mpeg4 max-threads=1 output-corrupt=false";
  }
  text += " ! videoconvert ! videoscale ! video/x-raw,format=BGRx,width=160,height=120"
          " ! appsink name=sink";
  if (!options_.receiver_defaults) text += " sync=false";
  return text;
}

bool PlainPair::Start(std::string* error) {
  Stop();
  GErrorOwner send_error, receive_error;
  sender_ = AdoptFloating(gst_parse_launch(SenderDescription().c_str(), send_error.out()));
  receiver_ = AdoptFloating(gst_parse_launch(ReceiverDescription().c_str(), receive_error.out()));
  if (!sender_ || !receiver_ || send_error.error || receive_error.error) {
    if (error) {
      *error = send_error.error     ? send_error.error->message
               : receive_error.error ? receive_error.error->message
                                     : "a pipeline could not be made";
    }
    sender_.Reset();
    receiver_.Reset();
    return false;
  }

  const auto element = [](GstElement* pipeline, const char* name) {
    return GstElementRef::Adopt(gst_bin_get_by_name(GST_BIN(pipeline), name));
  };
  const auto pad = [](GstElement* of, const char* name) {
    return GstPadRef::Adopt(gst_element_get_static_pad(of, name));
  };
  constexpr auto kBuffersAndEvents = static_cast<GstPadProbeType>(
      GST_PAD_PROBE_TYPE_BUFFER | GST_PAD_PROBE_TYPE_EVENT_DOWNSTREAM);
  // The probes hold the shared state for as long as the pads live.
  const auto hold = [](const std::shared_ptr<Shared>& shared) {
    return static_cast<gpointer>(new std::shared_ptr<Shared>(shared));
  };
  const auto unhold = [](gpointer data) { delete static_cast<std::shared_ptr<Shared>*>(data); };

  GstElementRef source = element(sender_.get(), "src");
  GstElementRef encoder = element(sender_.get(), "encoder");
  GstElementRef sink = element(receiver_.get(), "sink");
  gst_pad_add_probe(
      pad(source.get(), "src").get(), GST_PAD_PROBE_TYPE_BUFFER,
      [](GstPad* p, GstPadProbeInfo* info, gpointer data) {
        return Shared::OnCaptured(p, info, static_cast<std::shared_ptr<Shared>*>(data)->get());
      },
      hold(shared_), unhold);
  gst_pad_add_probe(
      pad(encoder.get(), "sink").get(), kBuffersAndEvents,
      [](GstPad* p, GstPadProbeInfo* info, gpointer data) {
        return Shared::OnEncoderInput(p, info, static_cast<std::shared_ptr<Shared>*>(data)->get());
      },
      hold(shared_), unhold);
  gst_pad_add_probe(
      pad(encoder.get(), "src").get(), kBuffersAndEvents,
      [](GstPad* p, GstPadProbeInfo* info, gpointer data) {
        return Shared::OnEncoderOutput(p, info, static_cast<std::shared_ptr<Shared>*>(data)->get());
      },
      hold(shared_), unhold);
  GstAppSinkCallbacks callbacks{};
  callbacks.new_sample = [](GstAppSink* appsink, gpointer data) {
    return Shared::OnSample(appsink, static_cast<std::shared_ptr<Shared>*>(data)->get());
  };
  gst_app_sink_set_callbacks(GST_APP_SINK(sink.get()), &callbacks, hold(shared_), unhold);

  if (gst_element_set_state(receiver_.get(), GST_STATE_PLAYING) == GST_STATE_CHANGE_FAILURE ||
      gst_element_set_state(sender_.get(), GST_STATE_PLAYING) == GST_STATE_CHANGE_FAILURE) {
    if (error) *error = "a pipeline would not start";
    Stop();
    return false;
  }
  return true;
}

void PlainPair::Stop() {
  if (sender_) gst_element_set_state(sender_.get(), GST_STATE_NULL);
  if (receiver_) gst_element_set_state(receiver_.get(), GST_STATE_NULL);
  sender_.Reset();
  receiver_.Reset();
}

void PlainPair::SetObserver(frame_stamp::PaintObserver observer, void* context) {
  std::lock_guard lock(shared_->observer_mutex);
  shared_->observer = observer;
  shared_->observer_context = context;
}
