// round_trip_bench: what the link costs and how late its pictures are.
//
//   1. Encode and decode time per 640x480 frame (our encoder and decoder filters,
//      timed at the codec elements' pads), and CPU time per frame.
//   2. Capture-to-screen latency of the whole link built as the program builds
//      it (test pattern camera -> encoder -> sender -> 235.1.2.3:9000 ->
//      receiver -> decoder -> renderer, real graph manager and builder): capture
//      time from the camera's stamp record, paint time from the renderer's
//      paint observer.
//   3. The same work by a plain GStreamer pipeline pair in the same run
//      (bench/plain_pair.h), tuned: no jitter buffer, sync=false.
//
// It sends to a multicast group: run it only through bench/run.sh, which puts it
// inside tests/run_in_netns.sh. Bounded: each live phase runs --seconds (default
// 6) and the whole run stays under about 20 s.
#include <arpa/inet.h>
#include <gst/gst.h>
#include <gst/video/video.h>
#include <sys/resource.h>

#include <QApplication>
#include <QEventLoop>
#include <QTimer>
#include <QWidget>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <span>
#include <string>
#include <vector>

#include "bench/plain_pair.h"
#include "filters/filter_classes.h"
#include "filters/frame_stamp.h"
#include "filters/mpeg4_decoder.h"
#include "filters/mpeg4_encoder.h"
#include "net/endpoint.h"
#include "net/net_endpoint_config.h"
#include "platform/com/com.h"
#include "platform/com/storage.h"
#include "platform/dshow/graph.h"
#include "platform/dshow/gst_filter.h"
#include "platform/dshow/video_window.h"
#include "support/display_names.h"

namespace {

using frame_stamp::Clock;

double Ms(Clock::duration d) { return std::chrono::duration<double, std::milli>(d).count(); }

double CpuSeconds() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  return usage.ru_utime.tv_sec + usage.ru_stime.tv_sec +
         (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

struct Summary {
  std::size_t count = 0;
  double p50 = 0, p95 = 0, mean = 0, max = 0;
};

Summary Summarize(std::vector<double> values) {
  Summary s;
  s.count = values.size();
  if (values.empty()) return s;
  std::sort(values.begin(), values.end());
  const auto at = [&](double q) {
    return values[std::min(values.size() - 1, static_cast<std::size_t>(q * values.size()))];
  };
  s.p50 = at(0.50);
  s.p95 = at(0.95);
  s.max = values.back();
  double sum = 0;
  for (double v : values) sum += v;
  s.mean = sum / values.size();
  return s;
}

// The libav element inside one of our filter bins (borrowed), by factory name.
GstElement* Inner(GstElement* bin, const char* factory_name) {
  GstElement* found = nullptr;
  GstIterator* it = gst_bin_iterate_elements(GST_BIN(bin));
  GValue item = G_VALUE_INIT;
  while (!found && gst_iterator_next(it, &item) == GST_ITERATOR_OK) {
    auto* element = GST_ELEMENT(g_value_get_object(&item));
    GstElementFactory* factory = gst_element_get_factory(element);
    if (factory && g_str_equal(gst_plugin_feature_get_name(factory), factory_name)) found = element;
    g_value_reset(&item);
  }
  g_value_unset(&item);
  gst_iterator_free(it);
  return found;
}

// Times each frame from entering an element to leaving it. The codecs work in
// their input's streaming thread, one frame out per frame in.
struct PassTimer {
  Clock::time_point entered;
  std::vector<double> ms;

  void Attach(GstElement* element) {
    GstPadRef sink = GstPadRef::Adopt(gst_element_get_static_pad(element, "sink"));
    GstPadRef src = GstPadRef::Adopt(gst_element_get_static_pad(element, "src"));
    gst_pad_add_probe(
        sink.get(), GST_PAD_PROBE_TYPE_BUFFER,
        [](GstPad*, GstPadProbeInfo*, gpointer self) {
          static_cast<PassTimer*>(self)->entered = Clock::now();
          return GST_PAD_PROBE_OK;
        },
        this, nullptr);
    gst_pad_add_probe(
        src.get(), GST_PAD_PROBE_TYPE_BUFFER,
        [](GstPad*, GstPadProbeInfo*, gpointer self) {
          auto* timer = static_cast<PassTimer*>(self);
          timer->ms.push_back(Ms(Clock::now() - timer->entered));
          return GST_PAD_PROBE_OK;
        },
        this, nullptr);
  }
};

void CodecCost(int frames) {
  ComPtr<IBaseFilter> encoder, decoder;
  if (FAILED(CreateMpeg4Encoder(IBaseFilter::iid, encoder.ReleaseAndGetVoidAddress())) ||
      FAILED(CreateMpeg4Decoder(IBaseFilter::iid, decoder.ReleaseAndGetVoidAddress()))) {
    std::printf("codec: encoder or decoder missing\n");
    return;
  }
  GstElementRef pipeline = AdoptFloating(gst_pipeline_new(nullptr));
  GstElement* source = gst_element_factory_make("videotestsrc", nullptr);
  GstElement* format = gst_element_factory_make("capsfilter", nullptr);
  g_object_set(source, "num-buffers", frames, "horizontal-speed", 4, nullptr);
  GstCapsRef caps = GstCapsRef::Adopt(
      gst_caps_from_string("video/x-raw,format=I420,width=640,height=480,framerate=30/1"));
  g_object_set(format, "caps", caps.get(), nullptr);
  GstElement* sink = gst_element_factory_make("fakesink", nullptr);
  g_object_set(sink, "sync", FALSE, nullptr);
  GstElement* enc = ElementOfFilter(encoder.Get());
  GstElement* dec = ElementOfFilter(decoder.Get());
  gst_bin_add_many(GST_BIN(pipeline.get()), source, format, enc, dec, sink, nullptr);
  gst_element_link_many(source, format, enc, dec, sink, nullptr);
  PassTimer encode, decode;
  encode.Attach(Inner(enc, "avenc_mpeg4"));
  decode.Attach(Inner(dec, "avdec_mpeg4"));

  const double cpu_before = CpuSeconds();
  const auto started = Clock::now();
  gst_element_set_state(pipeline.get(), GST_STATE_PLAYING);
  GstBusRef bus = GstBusRef::Adopt(gst_element_get_bus(pipeline.get()));
  GstMessageRef done = GstMessageRef::Adopt(gst_bus_timed_pop_filtered(
      bus.get(), 20 * GST_SECOND, static_cast<GstMessageType>(GST_MESSAGE_EOS | GST_MESSAGE_ERROR)));
  const double wall = std::chrono::duration<double>(Clock::now() - started).count();
  const double cpu = CpuSeconds() - cpu_before;
  gst_element_set_state(pipeline.get(), GST_STATE_NULL);

  const Summary e = Summarize(encode.ms);
  const Summary d = Summarize(decode.ms);
  std::printf("codec, 640x480 moving bars, %zu frames (%.2f s wall):\n", e.count, wall);
  std::printf("  encode per frame   p50 %6.2f ms  p95 %6.2f ms  mean %6.2f ms\n", e.p50, e.p95,
              e.mean);
  std::printf("  decode per frame   p50 %6.2f ms  p95 %6.2f ms  mean %6.2f ms\n", d.p50, d.p95,
              d.mean);
  std::printf("  CPU per frame, pattern + encode + decode: %.2f ms\n",
              e.count ? 1000.0 * cpu / e.count : 0.0);
}

// What a live phase saw: latencies of the frames shown, and how many were shown
// of those captured between the first and the last shown.
struct LiveResult {
  std::vector<double> latency_ms;
  std::size_t shown = 0;
  std::size_t captured = 0;
  double cpu_seconds = 0;
  double seconds = 0;
};

void Report(const char* name, const LiveResult& r) {
  const Summary s = Summarize(r.latency_ms);
  std::printf("  %-34s p50 %6.2f ms  p95 %6.2f ms  max %6.2f ms  shown %zu of %zu  CPU %4.1f%%\n",
              name, s.p50, s.p95, s.max, r.shown, r.captured,
              r.seconds > 0 ? 100.0 * r.cpu_seconds / r.seconds : 0.0);
}

// Collects stamped frames with their latency, ignoring a warm-up.
class Collector {
 public:
  explicit Collector(Clock::time_point measure_from) : from_(measure_from) {}
  void Add(std::uint16_t number, Clock::time_point shown, Clock::time_point captured) {
    std::lock_guard lock(mutex_);
    if (captured < from_ || captured == Clock::time_point{}) return;
    latency_.push_back(Ms(shown - captured));
    numbers_.push_back(number);
  }
  LiveResult Result() {
    std::lock_guard lock(mutex_);
    LiveResult r;
    r.latency_ms = latency_;
    std::set<std::uint16_t> unique(numbers_.begin(), numbers_.end());
    r.shown = unique.size();
    if (!numbers_.empty()) {
      r.captured = static_cast<std::uint16_t>(numbers_.back() - numbers_.front()) + 1u;
    }
    return r;
  }

 private:
  std::mutex mutex_;
  Clock::time_point from_;
  std::vector<double> latency_;
  std::vector<std::uint16_t> numbers_;
};

void RunLoopFor(std::chrono::milliseconds duration) {
  QEventLoop loop;
  QTimer::singleShot(duration, &loop, &QEventLoop::quit);
  loop.exec();
}

// The link as the program builds it.
struct OurGraph {
  ComPtr<IFilterGraph2> manager;
  ComPtr<ICaptureGraphBuilder2> builder;
  ComPtr<IMediaControl> control;
  std::vector<ComPtr<IBaseFilter>> members;

  bool Create() {
    return SUCCEEDED(CoCreateInstance(CLSID_CaptureGraphBuilder2, &builder)) &&
           SUCCEEDED(CoCreateInstance(CLSID_FilterGraph, &manager)) &&
           SUCCEEDED(builder->SetFiltergraph(manager.Get())) && SUCCEEDED(manager.As(&control));
  }
  ComPtr<IBaseFilter> Add(std::u16string_view display_name, const char16_t* name) {
    ComPtr<IBaseFilter> filter;
    BindDisplayName(display_name, IBaseFilter::iid, filter.ReleaseAndGetVoidAddress());
    if (filter && SUCCEEDED(manager->AddFilter(filter.Get(), name))) members.push_back(filter);
    return filter;
  }
  void Release() {
    if (control) control->Stop();
    for (const auto& m : members) manager->RemoveFilter(m.Get());
    members.clear();
    control = nullptr;
    builder = nullptr;
    manager = nullptr;
  }
};

bool HandEndpoint(IBaseFilter* filter) {
  ComPtr<INetEndpointConfig> config;
  if (!filter || FAILED(ComPtr<IBaseFilter>(filter).As(&config))) return false;
  return SUCCEEDED(
      config->SetEndpoint(inet_addr(net::kGroupAddress), std::uint32_t{htons(net::kPort)}));
}

LiveResult OurRoundTrip(std::chrono::seconds seconds, std::chrono::seconds warm_up) {
  LiveResult failed;
  QWidget owner;
  owner.resize(640, 400);
  owner.show();

  OurGraph send, receive;
  if (!send.Create() || !receive.Create()) return failed;
  auto camera = send.Add(display_names::kTestPatternCamera, u"SourceFilter");
  auto encoder = send.Add(display_names::kEncoder, u"DivXEncoder");
  auto sender = send.Add(display_names::kSender, u"SenderFilter");
  auto renderer = receive.Add(display_names::kVideoRenderer, u"VideoWindow1");
  auto receiver = receive.Add(display_names::kReceiver, u"ReceiveFilter");
  auto decoder = receive.Add(display_names::kDecoder, u"DivxDecoderFilter");
  ComPtr<IVideoWindow> window;
  if (!camera || !encoder || !sender || !renderer || !receiver || !decoder ||
      FAILED(renderer.As(&window)) || !HandEndpoint(sender.Get()) ||
      !HandEndpoint(receiver.Get()) ||
      send.builder->RenderStream(nullptr, nullptr, camera.Get(), encoder.Get(), sender.Get()) !=
          S_OK ||
      receive.builder->RenderStream(nullptr, nullptr, receiver.Get(), decoder.Get(),
                                    renderer.Get()) != S_OK) {
    std::printf("  our graphs could not be built\n");
    send.Release();
    receive.Release();
    return failed;
  }
  window->put_Owner(reinterpret_cast<OAHWND>(&owner));
  window->put_WindowStyle(WS_CHILD | WS_CLIPSIBLINGS | WS_CLIPCHILDREN);
  window->SetWindowPosition(208, 128, 160, 120);

  Collector collector(Clock::now() + warm_up);
  frame_stamp::SetPaintObserver(
      [](const frame_stamp::PaintRecord& record, void* context) {
        static_cast<Collector*>(context)->Add(record.number, record.painted, record.captured);
      },
      &collector);
  receive.control->Run();
  send.control->Run();
  const double cpu_before = CpuSeconds();
  const auto started = Clock::now();
  RunLoopFor(seconds);
  LiveResult result = collector.Result();
  result.cpu_seconds = CpuSeconds() - cpu_before;
  result.seconds = std::chrono::duration<double>(Clock::now() - started).count();
  frame_stamp::SetPaintObserver(nullptr, nullptr);
  window = nullptr;
  send.Release();
  receive.Release();
  return result;
}

// The plain pair (bench/plain_pair.h), tuned for latency: no jitter buffer, one
// decoder thread, no clock waits.
LiveResult PlainRoundTrip(std::chrono::seconds seconds, std::chrono::seconds warm_up) {
  PlainPair::Options options;
  options.max_frames = static_cast<int>(30 * (seconds.count() + 2));
  PlainPair pair(options);
  Collector collector(Clock::now() + warm_up);
  pair.SetObserver(
      [](const frame_stamp::PaintRecord& record, void* context) {
        static_cast<Collector*>(context)->Add(record.number, record.painted, record.captured);
      },
      &collector);
  std::string error;
  if (!pair.Start(&error)) {
    std::printf("  plain pipelines could not be started: %s\n", error.c_str());
    return {};
  }
  const double cpu_before = CpuSeconds();
  const auto started = Clock::now();
  RunLoopFor(seconds);
  LiveResult result = collector.Result();
  result.cpu_seconds = CpuSeconds() - cpu_before;
  result.seconds = std::chrono::duration<double>(Clock::now() - started).count();
  pair.Stop();
  pair.SetObserver(nullptr, nullptr);
  return result;
}

}  // namespace

int main(int argc, char** argv) {
  int seconds = 6;
  for (int i = 1; i + 1 < argc; ++i) {
    if (std::strcmp(argv[i], "--seconds") == 0) seconds = std::clamp(std::atoi(argv[i + 1]), 2, 8);
  }
  if (std::getenv("PRESENTER_LINK_IN_NETNS") == nullptr) {
    std::fprintf(stderr, "round_trip_bench sends to %s:%u: run it through bench/run.sh\n",
                 net::kGroupAddress, net::kPort);
    return 2;
  }
  qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication application(argc, argv);
  CoInitialize(nullptr);
  EnsureGStreamer();
  RegisterPresenterLinkClasses();

  CodecCost(300);
  const auto live = std::chrono::seconds(seconds);
  const auto warm_up = std::chrono::seconds(1);
  std::printf("capture -> screen, 640x480 at 30 fps over 235.1.2.3:9000 on loopback, %d s each "
              "(first second not counted):\n",
              seconds);
  Report("presenter-link graphs", OurRoundTrip(live, warm_up));
  Report("plain GStreamer pipeline pair", PlainRoundTrip(live, warm_up));

  CoUninitialize();
  return 0;
}
