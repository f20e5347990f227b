// The whole link on loopback, inside the private network namespace: test pattern
// camera -> encoder -> sender -> 235.1.2.3:9000 -> receiver -> decoder ->
// renderer, each graph built by the real graph manager and capture graph
// builder from the stored display names, the endpoint handed over as the
// program hands it.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>

#include <QApplication>
#include <QImage>
#include <QWidget>

#include <chrono>
#include <map>
#include <memory>
#include <set>
#include <vector>

#include "filters/filter_classes.h"
#include "filters/frame_stamp.h"
#include "filters/video_renderer.h"
#include "net/endpoint.h"
#include "net/net_endpoint_config.h"
#include "platform/com/com.h"
#include "platform/com/storage.h"
#include "platform/dshow/graph.h"
#include "platform/dshow/video_window.h"
#include "support/display_names.h"
#include "support/group_socket.h"
#include "support/test_world.h"

namespace {

using frame_stamp::Clock;

using display_names::kDecoder;
using display_names::kEncoder;
using display_names::kReceiver;
using display_names::kSender;
using display_names::kTestPatternCamera;

// The video area of the main window.
constexpr LONG kLeft = 208, kTop = 128, kWidth = 160, kHeight = 120;

ComPtr<IBaseFilter> Bind(std::u16string_view display_name) {
  // Through the stored record, as a filter slot does.
  const auto record = MakeSelectionRecord(display_name);
  const auto stream = CreateMemoryStream(std::span(record).subspan(4));
  ComPtr<IMoniker> moniker;
  ComPtr<IBaseFilter> filter;
  if (SUCCEEDED(OleLoadFromStream(stream.Get(), IMoniker::iid, moniker.ReleaseAndGetVoidAddress())))
    moniker->BindToObject(nullptr, nullptr, IBaseFilter::iid, filter.ReleaseAndGetVoidAddress());
  return filter;
}

HRESULT HandEndpoint(IBaseFilter* filter) {
  ComPtr<INetEndpointConfig> config;
  const HRESULT found = ComPtr<IBaseFilter>(filter).As(&config);
  if (FAILED(found)) return found;
  return config->SetEndpoint(inet_addr(net::kGroupAddress), std::uint32_t{htons(net::kPort)});
}

// One graph: manager, builder, three filters connected by RenderStream.
struct Graph {
  ComPtr<IFilterGraph2> manager;
  ComPtr<ICaptureGraphBuilder2> builder;
  ComPtr<IMediaControl> control;
  std::vector<ComPtr<IBaseFilter>> filters;

  void Create() {
    ASSERT_EQ(CoCreateInstance(CLSID_CaptureGraphBuilder2, &builder), S_OK);
    ASSERT_EQ(CoCreateInstance(CLSID_FilterGraph, &manager), S_OK);
    ASSERT_EQ(builder->SetFiltergraph(manager.Get()), S_OK);
    ASSERT_EQ(manager.As(&control), S_OK);
  }
  void Add(const ComPtr<IBaseFilter>& filter, const char16_t* name) {
    ASSERT_TRUE(filter) << Utf16ToUtf8(name) << " did not resolve";
    ASSERT_TRUE(SUCCEEDED(manager->AddFilter(filter.Get(), name)));
    filters.push_back(filter);
  }
  void Connect() {
    ASSERT_EQ(builder->RenderStream(nullptr, nullptr, filters[0].Get(), filters[1].Get(),
                                    filters[2].Get()),
              S_OK);
  }
  void Run() { ASSERT_TRUE(SUCCEEDED(control->Run())); }
  void Stop() {
    if (control) control->Stop();
  }
  void Release() {
    Stop();
    for (const auto& filter : filters) manager->RemoveFilter(filter.Get());
    filters.clear();
    control = nullptr;
    builder = nullptr;
    manager = nullptr;
  }
};

class RoundTripTest : public ::testing::Test {
 protected:
  void SetUp() override {
    TestApplication();
    CoInitialize(nullptr);
    RegisterPresenterLinkClasses();
    live_at_start_ = ComLiveObjectCount();
    frame_stamp::SetPaintObserver(
        [](const frame_stamp::PaintRecord& record, void* context) {
          static_cast<RoundTripTest*>(context)->painted_.push_back(record);
        },
        this);
  }

  void TearDown() override {
    frame_stamp::SetPaintObserver(nullptr, nullptr);
    receive_.Release();
    send_.Release();
    window_ = nullptr;
    owner_.reset();
    QCoreApplication::processEvents();
    EXPECT_EQ(ComLiveObjectCount(), live_at_start_);
    CoUninitialize();
  }

  void StartSending() {
    ASSERT_NO_FATAL_FAILURE(send_.Create());
    ASSERT_NO_FATAL_FAILURE(send_.Add(Bind(kTestPatternCamera), u"SourceFilter"));
    ASSERT_NO_FATAL_FAILURE(send_.Add(Bind(kEncoder), u"DivXEncoder"));
    ASSERT_NO_FATAL_FAILURE(send_.Add(Bind(kSender), u"SenderFilter"));
    ASSERT_EQ(HandEndpoint(send_.filters[2].Get()), S_OK);
    ASSERT_NO_FATAL_FAILURE(send_.Connect());
    ASSERT_NO_FATAL_FAILURE(send_.Run());
  }

  void StartReceiving() {
    owner_ = std::make_unique<QWidget>();
    owner_->resize(640, 400);
    owner_->show();
    ASSERT_NO_FATAL_FAILURE(receive_.Create());
    ComPtr<IBaseFilter> renderer;
    ASSERT_EQ(CoCreateInstance(CLSID_VideoRenderer, &renderer), S_OK);
    ASSERT_NO_FATAL_FAILURE(receive_.Add(renderer, u"VideoWindow1"));
    ASSERT_NO_FATAL_FAILURE(receive_.Add(Bind(kReceiver), u"ReceiveFilter"));
    ASSERT_NO_FATAL_FAILURE(receive_.Add(Bind(kDecoder), u"DivxDecoderFilter"));
    ASSERT_EQ(renderer.As(&window_), S_OK);
    ASSERT_EQ(HandEndpoint(receive_.filters[1].Get()), S_OK);
    ASSERT_EQ(receive_.builder->RenderStream(nullptr, nullptr, receive_.filters[1].Get(),
                                             receive_.filters[2].Get(), renderer.Get()),
              S_OK);
    const auto owner = reinterpret_cast<OAHWND>(owner_.get());
    ASSERT_EQ(window_->put_Owner(owner), S_OK);
    ASSERT_EQ(window_->put_WindowStyle(WS_CHILD | WS_CLIPSIBLINGS | WS_CLIPCHILDREN), S_OK);
    ASSERT_EQ(window_->SetWindowPosition(kLeft, kTop, kWidth, kHeight), S_OK);
    ASSERT_EQ(window_->put_MessageDrain(owner), S_OK);
    joined_ = Clock::now();
    ASSERT_NO_FATAL_FAILURE(receive_.Run());
  }

  // The renderer's widget.
  QWidget* Picture() const {
    if (receive_.filters.empty()) return nullptr;
    return reinterpret_cast<QWidget*>(VideoRendererWidgetForTesting(receive_.filters[0].Get()));
  }

  long live_at_start_ = 0;
  Graph send_;
  Graph receive_;
  std::unique_ptr<QWidget> owner_;
  ComPtr<IVideoWindow> window_;
  Clock::time_point joined_;
  std::vector<frame_stamp::PaintRecord> painted_;
};

// Colour classes of the bars below the stamp (each channel light or dark).
std::set<int> HuesAcross(const QImage& image, int y) {
  std::set<int> hues;
  for (int x = 2; x < image.width() - 2; x += 2) {
    const QColor c = image.pixelColor(x, y);
    hues.insert((c.red() > 128) << 2 | (c.green() > 128) << 1 | (c.blue() > 128));
  }
  return hues;
}

TEST_F(RoundTripTest, CameraToRenderer_PatternShownAndFrameNumbersIncrease) {
  ASSERT_NO_FATAL_FAILURE(StartSending());
  ASSERT_NO_FATAL_FAILURE(StartReceiving());

  ASSERT_TRUE(RunLoopUntil([&] { return painted_.size() >= 30; }, std::chrono::seconds(20)))
      << painted_.size() << " stamped frames painted";

  // In the owner's video area, at the stored place and size.
  QWidget* picture = Picture();
  ASSERT_NE(picture, nullptr);
  EXPECT_EQ(picture->parentWidget(), owner_.get());
  EXPECT_EQ(picture->geometry(), QRect(kLeft, kTop, kWidth, kHeight));
  EXPECT_TRUE(picture->isVisible());

  // The pattern, by its pixels: the stamp on top, the coloured bars below it.
  const QImage shown = picture->grab().toImage().convertToFormat(QImage::Format_RGB32);
  ASSERT_EQ(shown.size(), QSize(kWidth, kHeight));
  EXPECT_TRUE(frame_stamp::ReadRgb32(shown.constBits(), static_cast<int>(shown.bytesPerLine()),
                                     shown.width(), shown.height())
                  .has_value());
  EXPECT_GE(HuesAcross(shown, kHeight / 3).size(), 6u);

  // Every painted frame was captured here, before it was painted, and the
  // numbers only go forward.
  for (std::size_t i = 0; i < painted_.size(); ++i) {
    const auto& record = painted_[i];
    ASSERT_NE(record.captured, Clock::time_point{}) << "frame " << record.number;
    EXPECT_LT(record.captured, record.painted) << "frame " << record.number;
    if (i > 0) {
      const auto step = static_cast<std::uint16_t>(record.number - painted_[i - 1].number);
      EXPECT_GT(step, 0) << "frame " << record.number << " after " << painted_[i - 1].number;
      EXPECT_LT(step, 0x8000) << "frame " << record.number << " after " << painted_[i - 1].number;
    }
  }
}

TEST_F(RoundTripTest, ReceiverJoinsLate_FirstPictureIsFromWithinASecondOfJoining) {
  ASSERT_NO_FATAL_FAILURE(StartSending());
  // Let the stream run past its first keyframe, so the receiver joins between two.
  const auto mid_gop = Clock::now() + std::chrono::milliseconds(1430);
  RunLoopUntil([&] { return Clock::now() > mid_gop; }, std::chrono::seconds(5));
  ASSERT_NO_FATAL_FAILURE(StartReceiving());

  ASSERT_TRUE(RunLoopUntil([&] { return !painted_.empty(); }, std::chrono::seconds(20)))
      << "nothing painted";
  // The first frame shown was captured no later than the next keyframe after
  // joining: a keyframe with its configuration comes at least once a second.
  const auto& first = painted_.front();
  EXPECT_LE(first.captured - joined_,
            std::chrono::seconds(1) + std::chrono::milliseconds(34))
      << "first frame shown was captured "
      << std::chrono::duration_cast<std::chrono::milliseconds>(first.captured - joined_).count()
      << " ms after joining";
  EXPECT_TRUE(Picture()->isVisible());
}

TEST_F(RoundTripTest, SentStream_RtpTimestampsAdvance3000PerFrameAt30Fps) {
  GroupSocket listener;
  ASSERT_TRUE(listener.Ready());
  ASSERT_NO_FATAL_FAILURE(StartSending());

  // RTP timestamps of whole frames (the marker bit closes a frame), in order.
  std::vector<std::uint32_t> frame_times;
  const auto deadline = Clock::now() + std::chrono::seconds(20);
  while (frame_times.size() < 40 && Clock::now() < deadline) {
    const auto datagram = listener.Receive(std::chrono::milliseconds(200));
    if (datagram.size() < 12 || (datagram[0] >> 6) != 2) continue;
    EXPECT_EQ(datagram[1] & 0x7F, 96) << "payload type";
    const bool marker = (datagram[1] & 0x80) != 0;
    const std::uint32_t timestamp = std::uint32_t{datagram[4]} << 24 |
                                    std::uint32_t{datagram[5]} << 16 |
                                    std::uint32_t{datagram[6]} << 8 | datagram[7];
    if (marker) frame_times.push_back(timestamp);
  }
  ASSERT_GE(frame_times.size(), 40u);
  for (std::size_t i = 1; i < frame_times.size(); ++i) {
    EXPECT_EQ(frame_times[i] - frame_times[i - 1], 3000u) << "frame " << i;
  }
}

}  // namespace
