#include "filters/test_pattern_camera.h"

#include <gst/video/video.h>

#include <atomic>
#include <vector>

#include "filters/filter_classes.h"
#include "filters/frame_stamp.h"
#include "filters/property_pages.h"

// Touched by the source's streaming thread only, except `stamping`.
struct TestPatternCamera::StampState {
  std::atomic<bool> stamping{true};
  GstVideoInfo info{};
  bool has_info = false;
  std::vector<std::uint8_t> scratch;  // luma of the stamp rows, for packed formats
};

namespace {

// Numbers are unique in the process, so two cameras never overwrite each
// other's capture times (the record is keyed by number).
std::atomic<std::uint32_t> next_frame_number{0};

const char* PatternNick(TestPattern pattern) {
  switch (pattern) {
    case TestPattern::kMovingBars: return "smpte";
    case TestPattern::kBall: return "ball";
    case TestPattern::kSnow: return "snow";
  }
  return "smpte";
}

const char* FormatName(TestPixelFormat format) {
  switch (format) {
    case TestPixelFormat::kI420: return "I420";
    case TestPixelFormat::kYUY2: return "YUY2";
    case TestPixelFormat::kNV12: return "NV12";
  }
  return "I420";
}

bool IsValid(const TestPatternSettings& s) {
  const bool known_pattern = s.pattern == TestPattern::kMovingBars ||
                             s.pattern == TestPattern::kBall || s.pattern == TestPattern::kSnow;
  const bool known_format = s.format == TestPixelFormat::kI420 ||
                            s.format == TestPixelFormat::kYUY2 ||
                            s.format == TestPixelFormat::kNV12;
  const bool size_ok = s.width >= 16 && s.width <= 4096 && s.height >= 12 && s.height <= 4096 &&
                       s.width % 2 == 0 && s.height % 2 == 0;
  const auto n = static_cast<std::int64_t>(s.frame_rate_numerator);
  const auto d = static_cast<std::int64_t>(s.frame_rate_denominator);
  const bool rate_ok = n > 0 && d > 0 && n <= 240 * d && n * 1000 >= d;
  return known_pattern && known_format && size_ok && rate_ok;
}

void StampPacked422(TestPatternCamera::StampState& state, GstVideoFrame& frame,
                    std::uint32_t number) {
  const int width = GST_VIDEO_FRAME_WIDTH(&frame);
  const int height = GST_VIDEO_FRAME_HEIGHT(&frame);
  const int rows = 2 * (height / frame_stamp::kRowsDivisor);
  state.scratch.resize(static_cast<std::size_t>(width) * rows);
  frame_stamp::StampLuma(state.scratch.data(), width, width, height, number);
  auto* pixels = static_cast<std::uint8_t*>(GST_VIDEO_FRAME_PLANE_DATA(&frame, 0));
  const int stride = GST_VIDEO_FRAME_PLANE_STRIDE(&frame, 0);
  for (int y = 0; y < rows; ++y) {
    const std::uint8_t* luma = state.scratch.data() + static_cast<std::size_t>(y) * width;
    std::uint8_t* line = pixels + static_cast<std::ptrdiff_t>(y) * stride;
    // Y0 U Y1 V
    for (int x = 0; x + 1 < width; x += 2) {
      line[2 * x] = luma[x];
      line[2 * x + 1] = 128;
      line[2 * x + 2] = luma[x + 1];
      line[2 * x + 3] = 128;
    }
  }
}

void StampSemiPlanar(GstVideoFrame& frame, std::uint32_t number) {
  const int width = GST_VIDEO_FRAME_WIDTH(&frame);
  const int height = GST_VIDEO_FRAME_HEIGHT(&frame);
  frame_stamp::StampLuma(static_cast<std::uint8_t*>(GST_VIDEO_FRAME_PLANE_DATA(&frame, 0)),
                         GST_VIDEO_FRAME_PLANE_STRIDE(&frame, 0), width, height, number);
  auto* uv = static_cast<std::uint8_t*>(GST_VIDEO_FRAME_PLANE_DATA(&frame, 1));
  const int stride = GST_VIDEO_FRAME_PLANE_STRIDE(&frame, 1);
  const int chroma_rows = (2 * (height / frame_stamp::kRowsDivisor) + 1) / 2;
  const int bytes = 2 * ((width + 1) / 2);
  for (int y = 0; y < chroma_rows; ++y) {
    std::uint8_t* line = uv + static_cast<std::ptrdiff_t>(y) * stride;
    for (int x = 0; x < bytes; ++x) line[x] = 128;
  }
}

void Stamp(TestPatternCamera::StampState& state, GstBuffer* buffer, std::uint32_t number) {
  GstVideoFrame frame;
  if (!gst_video_frame_map(&frame, &state.info, buffer, GST_MAP_READWRITE)) return;
  const int width = GST_VIDEO_FRAME_WIDTH(&frame);
  const int height = GST_VIDEO_FRAME_HEIGHT(&frame);
  switch (GST_VIDEO_FRAME_FORMAT(&frame)) {
    case GST_VIDEO_FORMAT_I420:
      frame_stamp::StampLuma(static_cast<std::uint8_t*>(GST_VIDEO_FRAME_PLANE_DATA(&frame, 0)),
                             GST_VIDEO_FRAME_PLANE_STRIDE(&frame, 0), width, height, number);
      frame_stamp::StampChroma(static_cast<std::uint8_t*>(GST_VIDEO_FRAME_PLANE_DATA(&frame, 1)),
                               static_cast<std::uint8_t*>(GST_VIDEO_FRAME_PLANE_DATA(&frame, 2)),
                               GST_VIDEO_FRAME_PLANE_STRIDE(&frame, 1), width, height);
      break;
    case GST_VIDEO_FORMAT_YUY2:
      StampPacked422(state, frame, number);
      break;
    case GST_VIDEO_FORMAT_NV12:
      StampSemiPlanar(frame, number);
      break;
    default:
      break;
  }
  gst_video_frame_unmap(&frame);
}

// On the source's pad: the moment a frame leaves the source is its capture time.
GstPadProbeReturn OnSourceData(GstPad*, GstPadProbeInfo* info, gpointer data) {
  auto& state = **static_cast<std::shared_ptr<TestPatternCamera::StampState>*>(data);
  if (GST_PAD_PROBE_INFO_TYPE(info) & GST_PAD_PROBE_TYPE_EVENT_DOWNSTREAM) {
    GstEvent* event = GST_PAD_PROBE_INFO_EVENT(info);
    if (GST_EVENT_TYPE(event) == GST_EVENT_CAPS) {
      GstCaps* caps = nullptr;
      gst_event_parse_caps(event, &caps);
      state.has_info = caps && gst_video_info_from_caps(&state.info, caps);
    }
    return GST_PAD_PROBE_OK;
  }
  if (!state.has_info || !state.stamping.load(std::memory_order_relaxed)) return GST_PAD_PROBE_OK;

  const auto number = static_cast<std::uint16_t>(
      next_frame_number.fetch_add(1, std::memory_order_relaxed));
  // The pool's buffer has one owner here, so this normally copies nothing.
  GstBuffer* buffer = gst_buffer_make_writable(GST_PAD_PROBE_INFO_BUFFER(info));
  GST_PAD_PROBE_INFO_DATA(info) = buffer;
  Stamp(state, buffer, number);
  frame_stamp::NoteCaptured(number, frame_stamp::Clock::now());
  return GST_PAD_PROBE_OK;
}

void DeleteStateRef(gpointer data) {
  delete static_cast<std::shared_ptr<TestPatternCamera::StampState>*>(data);
}

GstElement* AddElement(GstElement* bin, const char* factory) {
  GstElement* element = gst_element_factory_make(factory, nullptr);
  if (element) gst_bin_add(GST_BIN(bin), element);
  return element;
}

}  // namespace

TestPatternCamera::TestPatternCamera()
    : ComExtends(CLSID_TestPatternCamera), stamp_state_(std::make_shared<StampState>()) {
  EnsureGStreamer();
  GstElement* bin = gst_bin_new(nullptr);
  source_ = AddElement(bin, "videotestsrc");
  caps_filter_ = AddElement(bin, "capsfilter");
  if (IsComplete() && gst_element_link(source_, caps_filter_)) {
    g_object_set(source_, "is-live", TRUE, nullptr);
    GstPadRef src = GstPadRef::Adopt(gst_element_get_static_pad(caps_filter_, "src"));
    gst_element_add_pad(bin, gst_ghost_pad_new("out", src.get()));
    GstPadRef source_pad = GstPadRef::Adopt(gst_element_get_static_pad(source_, "src"));
    gst_pad_add_probe(source_pad.get(),
                      static_cast<GstPadProbeType>(GST_PAD_PROBE_TYPE_BUFFER |
                                                   GST_PAD_PROBE_TYPE_EVENT_DOWNSTREAM),
                      OnSourceData, new std::shared_ptr<StampState>(stamp_state_),
                      DeleteStateRef);
    Apply();
  } else {
    source_ = caps_filter_ = nullptr;
  }
  SetElement(bin);
}

TestPatternCamera::~TestPatternCamera() = default;

HRESULT TestPatternCamera::GetSettings(TestPatternSettings* settings) {
  if (!settings) return E_POINTER;
  *settings = settings_;
  return S_OK;
}

HRESULT TestPatternCamera::SetSettings(const TestPatternSettings& settings) {
  if (!IsValid(settings)) return E_INVALIDARG;
  if (!IsStopped()) return VFW_E_NOT_STOPPED;
  settings_ = settings;
  Apply();
  return S_OK;
}

HRESULT TestPatternCamera::GetPages(CAUUID* pages) {
  return PageList({CLSID_TestPatternPage}, pages);
}

bool TestPatternCamera::IsStopped() {
  GstState current = GST_STATE_VOID_PENDING;
  GstState pending = GST_STATE_VOID_PENDING;
  gst_element_get_state(Element(), &current, &pending, 0);
  return current <= GST_STATE_READY && pending <= GST_STATE_READY;
}

void TestPatternCamera::Apply() {
  if (!IsComplete()) return;
  g_object_set(source_, "horizontal-speed",
               settings_.pattern == TestPattern::kMovingBars ? 4 : 0, nullptr);
  gst_util_set_object_arg(G_OBJECT(source_), "pattern", PatternNick(settings_.pattern));
  GstCapsRef caps = GstCapsRef::Adopt(gst_caps_new_simple(
      "video/x-raw", "format", G_TYPE_STRING, FormatName(settings_.format), "width", G_TYPE_INT,
      settings_.width, "height", G_TYPE_INT, settings_.height, "framerate", GST_TYPE_FRACTION,
      settings_.frame_rate_numerator, settings_.frame_rate_denominator, "pixel-aspect-ratio",
      GST_TYPE_FRACTION, 1, 1, nullptr));
  g_object_set(caps_filter_, "caps", caps.get(), nullptr);
  stamp_state_->stamping.store(settings_.stamping, std::memory_order_relaxed);
}

HRESULT CreateTestPatternCamera(REFIID riid, void** object) {
  if (!object) return E_POINTER;
  *object = nullptr;
  auto camera = MakeComObject<TestPatternCamera>();
  if (!camera->IsComplete()) return REGDB_E_CLASSNOTREG;
  return camera->QueryInterface(riid, object);
}
