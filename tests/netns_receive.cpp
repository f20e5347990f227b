// The receive chain with real media, inside the private network namespace: the
// window made from the test layout (the test pattern camera in place of the USB
// camera), Receive and Send pressed in either order and far apart, a stream from
// a stock GStreamer sender, Receive pressed twice, the receive graph's events,
// and a decoder that cannot take the stream. Pictures are read from a grab of
// the main window over the video area, as a user would see them.
#include <gst/gst.h>
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QWidget>

#include <atomic>
#include <chrono>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "Unit1.h"
#include "filters/filter_classes.h"
#include "filters/video_renderer.h"
#include "filters/video_widget.h"
#include "media/graph_enumeration.h"
#include "net/endpoint.h"
#include "platform/com/com.h"
#include "platform/dshow/gst_ref.h"
#include "support/media_window_test.h"
#include "support/stamp_probe.h"
#include "support/test_layout.h"
#include "support/test_world.h"

namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

// Keyframes come once a second; the first picture after a late join may take
// that long, plus the frame's own way to the screen and the polling here.
constexpr milliseconds kFirstPictureWithin(1100);
// Only keeps a broken build from hanging the run.
constexpr milliseconds kDeadline(15000);

long ElapsedMs(Clock::time_point from, Clock::time_point to) {
  return static_cast<long>(std::chrono::duration_cast<milliseconds>(to - from).count());
}

void RunFor(milliseconds duration) {
  RunLoopUntil([] { return false; }, duration);
}

// A stock GStreamer pipeline that sends RTP MPEG-4 (RFC 3016) with its
// configuration in band to the group: videotestsrc, stamped with frame numbers
// from 30000 on as our camera stamps its own, -> avenc_mpeg4 -> rtpmp4vpay ->
// udpsink. Live and bounded by a frame count.
class StockSender {
 public:
  explicit StockSender(int frames, const char* size = "width=320,height=240") {
    EnsureGStreamer();
    const std::string description =
        "videotestsrc name=src is-live=true pattern=ball num-buffers=" + std::to_string(frames) +
        " ! capsfilter name=size caps=video/x-raw,format=I420," + size +
        ",framerate=30/1 ! avenc_mpeg4 ! rtpmp4vpay config-interval=1 ! udpsink host=" +
        net::kGroupAddress + " port=" + std::to_string(net::kPort) +
        " ttl-mc=1 auto-multicast=true sync=false async=false";
    GErrorOwner error;
    pipeline_ = AdoptFloating(gst_parse_launch(description.c_str(), error.out()));
    if (error.error) pipeline_.Reset();
    if (!pipeline_) return;
    GstElementRef source = GstElementRef::Adopt(gst_bin_get_by_name(GST_BIN(pipeline_.get()), "src"));
    GstPadRef pad = GstPadRef::Adopt(gst_element_get_static_pad(source.get(), "src"));
    gst_pad_add_probe(pad.get(), GST_PAD_PROBE_TYPE_BUFFER, &StockSender::Stamp, this, nullptr);
  }
  ~StockSender() { Stop(); }

  bool Start() {
    return pipeline_ &&
           gst_element_set_state(pipeline_.get(), GST_STATE_PLAYING) != GST_STATE_CHANGE_FAILURE;
  }
  void Stop() {
    if (pipeline_) gst_element_set_state(pipeline_.get(), GST_STATE_NULL);
  }
  // Sends frames of another size from the next frame on.
  void Resize(const char* size) {
    GstElementRef filter = GstElementRef::Adopt(gst_bin_get_by_name(GST_BIN(pipeline_.get()), "size"));
    GstCapsRef caps = GstCapsRef::Adopt(gst_caps_from_string(
        (std::string("video/x-raw,format=I420,") + size + ",framerate=30/1").c_str()));
    g_object_set(filter.get(), "caps", caps.get(), nullptr);
  }

 private:
  static GstPadProbeReturn Stamp(GstPad* pad, GstPadProbeInfo* info, gpointer data) {
    auto* self = static_cast<StockSender*>(data);
    StampProbedFrame(pad, info, [self] { return static_cast<std::uint16_t>(30000 + self->next_++); });
    return GST_PAD_PROBE_OK;
  }

  GstElementRef pipeline_;
  std::atomic<std::uint32_t> next_{0};
};

class ReceiveMediaTest : public MediaWindowTest {
 protected:
  // Runs the loop until `count` distinct stamped frames have been seen in the
  // video area; the time the first of them was seen, or none.
  std::optional<Clock::time_point> WaitForMovingPicture(std::size_t count = 3) {
    std::set<std::uint16_t> frames;
    std::optional<Clock::time_point> first;
    RunLoopUntil(
        [&] {
          if (const auto frame = ShownFrame()) {
            if (!first) first = Clock::now();
            frames.insert(*frame);
          }
          return frames.size() >= count;
        },
        kDeadline);
    if (frames.size() < count) return std::nullopt;
    return first;
  }

  QWidget* RendererWidget() const {
    return reinterpret_cast<QWidget*>(VideoRendererWidgetForTesting(form_->VideoWindow1->Renderer().Get()));
  }

  // The state of the receive graph's manager.
  OAFilterState ReceiveGraphState() const {
    const ComPtr<IMediaControl> control = IntfCast<IMediaControl>(*form_->FilterGraph1);
    OAFilterState state = -1;
    control->GetState(1000, &state);
    return state;
  }

  void ExpectRendererPlacedOverTheControl() const {
    QWidget* picture = RendererWidget();
    ASSERT_NE(picture, nullptr);
    auto* window = reinterpret_cast<QWidget*>(form_->Handle());
    auto* control = reinterpret_cast<QWidget*>(form_->VideoWindow1->Handle());
    EXPECT_EQ(picture->parentWidget(), window) << "a child of the main window, not of the control";
    EXPECT_FALSE(picture->isWindow());
    EXPECT_TRUE(picture->isVisible());
    EXPECT_EQ(picture->geometry(), QRect(208, 128, 160, 120));
    EXPECT_EQ(picture->windowTitle().toStdString(), "VideoWindow1");
    ASSERT_NE(dynamic_cast<VideoWidget*>(picture), nullptr);
    EXPECT_EQ(static_cast<VideoWidget*>(picture)->Drain(), control);
  }
};

TEST_F(ReceiveMediaTest, ReceiveLongBeforeSendShowsThePictureWithinASecondOfSend) {
  ASSERT_NO_FATAL_FAILURE(Open());
  ReportedErrors errors;
  form_->Button2->Click();
  form_->Button1->Click();
  form_->Button4->Click();
  ASSERT_EQ(errors.Text(), "");
  ASSERT_NO_FATAL_FAILURE(ExpectRendererPlacedOverTheControl());
  EXPECT_EQ(ReceiveGraphState(), State_Running);

  // Nothing is on the group yet: the video area stays without a picture.
  bool shown_early = false;
  RunLoopUntil([&] { return (shown_early = ShownFrame().has_value()); }, milliseconds(1500));
  EXPECT_FALSE(shown_early);

  const auto sent = Clock::now();
  form_->GO->Click();
  ASSERT_EQ(errors.Text(), "");
  const auto first = WaitForMovingPicture();
  ASSERT_TRUE(first.has_value()) << "no moving picture in the video area";
  EXPECT_LE(ElapsedMs(sent, *first), 1000) << "first picture after Send";
  EXPECT_EQ(errors.Text(), "");
}

TEST_F(ReceiveMediaTest, SendBeforeReceiveShowsThePictureWithinASecondOfReceive) {
  ASSERT_NO_FATAL_FAILURE(Open());
  ReportedErrors errors;
  form_->Button1->Click();
  form_->GO->Click();
  RunFor(milliseconds(1500));
  EXPECT_FALSE(ShownFrame().has_value());

  form_->Button2->Click();
  const auto received = Clock::now();
  form_->Button4->Click();
  ASSERT_EQ(errors.Text(), "");
  const auto first = WaitForMovingPicture();
  ASSERT_TRUE(first.has_value()) << "no moving picture in the video area";
  EXPECT_LE(ElapsedMs(received, *first), kFirstPictureWithin.count()) << "first picture after Receive";
  ExpectRendererPlacedOverTheControl();
}

TEST_F(ReceiveMediaTest, StreamFromAStockGStreamerSenderIsShown) {
  ASSERT_NO_FATAL_FAILURE(Open());
  ReportedErrors errors;
  form_->Button2->Click();
  form_->Button4->Click();
  StockSender sender(300);
  ASSERT_TRUE(sender.Start()) << "the stock sender pipeline could not start";
  const auto first = WaitForMovingPicture();
  sender.Stop();
  EXPECT_TRUE(first.has_value()) << "no moving picture from the stock sender";
  EXPECT_EQ(errors.Text(), "");
}

TEST_F(ReceiveMediaTest, ReceivePressedAgainPlacesTheWindowAgainAndKeepsShowing) {
  ASSERT_NO_FATAL_FAILURE(Open());
  ReportedErrors errors;
  form_->Button2->Click();
  form_->Button1->Click();
  form_->Button4->Click();
  form_->GO->Click();
  ASSERT_TRUE(WaitForMovingPicture(2).has_value());

  // Somebody moved and renamed the picture's window meanwhile.
  const ComPtr<IVideoWindow> window = form_->VideoWindow1->RendererWindow();
  ASSERT_EQ(window->SetWindowPosition(0, 0, 40, 30), S_OK);
  ASSERT_EQ(window->put_Caption(u"moved"), S_OK);
  form_->Button4->Click();
  EXPECT_EQ(errors.Text(), "");
  ExpectRendererPlacedOverTheControl();
  EXPECT_EQ(ReceiveGraphState(), State_Running);
  EXPECT_TRUE(WaitForMovingPicture(3).has_value()) << "the picture stopped after the second press";
}

TEST_F(ReceiveMediaTest, ReceiveGraphEventsNeverReachTheLog) {
  ASSERT_NO_FATAL_FAILURE(Open());
  std::vector<LONG> sizes;
  form_->FilterGraph1->SetEventHandler(
      EC_VIDEO_SIZE_CHANGED, [&](TObject*, LONG size, LONG) { sizes.push_back(size); });
  ReportedErrors errors;
  form_->Button2->Click();
  form_->Button4->Click();
  StockSender sender(600);
  ASSERT_TRUE(sender.Start());
  ASSERT_TRUE(WaitForMovingPicture(2).has_value());
  // A new picture size makes the renderer raise an event in the receive graph.
  sender.Resize("width=640,height=480");
  RunLoopUntil([&] { return !sizes.empty(); }, kDeadline);
  sender.Stop();
  ASSERT_FALSE(sizes.empty()) << "the receive graph raised no event";
  EXPECT_EQ(sizes.front(), (480 << 16) | 640);
  ProcessMessages();
  EXPECT_EQ(form_->Memo1->Lines().ToVector(), std::vector<std::string>{"Memo1"});
  EXPECT_EQ(errors.Text(), "");
}

TEST_F(ReceiveMediaTest, DecoderThatCannotTakeTheStreamLeavesTheRendererUnplacedAndTheGraphRunning) {
  // An encoder in the decoder's slot: it takes pictures, not the receiver's stream.
  ASSERT_NO_FATAL_FAILURE(Open(WithSelection(TestPatternLayout(), "DivxDecoderFilter",
                                             StoredSelection(kUnit1Layout, "DivXEncoder"))));
  ReportedErrors errors;
  form_->Button2->Click();
  form_->Button4->Click();
  EXPECT_EQ(errors.Text(), "");
  for (const ComPtr<IPin>& pin : EnumeratePins(form_->VideoWindow1->Renderer().Get())) {
    ComPtr<IPin> peer;
    pin->ConnectedTo(peer.ReleaseAndGetAddressOf());
    EXPECT_EQ(peer.Get(), nullptr);
  }
  QWidget* picture = RendererWidget();
  ASSERT_NE(picture, nullptr);
  EXPECT_NE(picture->parentWidget(), reinterpret_cast<QWidget*>(form_->Handle()));
  EXPECT_FALSE(picture->isVisible());
  EXPECT_EQ(ReceiveGraphState(), State_Running);
}

TEST_F(ReceiveMediaTest, ClosingWhileReceivingLeavesTheReceiveGraphRunningUntilTheWindowGoes) {
  ASSERT_NO_FATAL_FAILURE(Open());
  ReportedErrors errors;
  form_->Button2->Click();
  form_->Button4->Click();
  StockSender sender(300);
  ASSERT_TRUE(sender.Start());
  ASSERT_TRUE(WaitForMovingPicture(2).has_value());
  EXPECT_TRUE(form_->Close());
  EXPECT_EQ(ReceiveGraphState(), State_Running);
  // Still receiving and painting after the close query.
  EXPECT_TRUE(WaitForMovingPicture(2).has_value());
  form_.reset();
  sender.Stop();
  QCoreApplication::processEvents();
  EXPECT_EQ(errors.Text(), "");
  EXPECT_EQ(ComLiveObjectCount(), live_at_start_);
}

}  // namespace
