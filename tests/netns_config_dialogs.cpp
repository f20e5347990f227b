// The Config buttons while streams flow, inside the private network namespace:
// the window with the test pattern camera in place of the USB camera. A dialog
// opened while the send graph runs leaves it running, the sender's page counts
// what goes out, a change on the encoder's dialog reaches the wire at once, and
// the receiver's page counts a stream that arrives and the packets it lost.
#include <gst/app/gstappsink.h>
#include <gst/gst.h>
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QDialog>
#include <QDialogButtonBox>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSpinBox>

#include <chrono>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "Unit1.h"
#include "filters/camera_devices.h"
#include "filters/filter_classes.h"
#include "filters/network_statistics.h"
#include "filters/rtp_mp4v.h"
#include "filters/rtp_packet.h"
#include "net/endpoint.h"
#include "platform/com/com.h"
#include "platform/dshow/gst_ref.h"
#include "property_page_testing.h"
#include "support/group_socket.h"
#include "support/test_layout.h"
#include "support/test_world.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

// Frames off the wire, in order: one per RTP timestamp, a keyframe when it
// starts with the configuration (the sender puts it before every keyframe).
struct WireFrame {
  std::uint32_t timestamp = 0;
  bool keyframe = false;
};

void CollectFrames(const std::vector<Bytes>& datagrams, std::vector<WireFrame>* frames) {
  for (const Bytes& datagram : datagrams) {
    const auto packet = ParseRtp(datagram);
    if (!packet || packet->header.payload_type != mp4v::kPayloadType) continue;
    if (!frames->empty() && frames->back().timestamp == packet->header.timestamp) continue;
    const auto& p = packet->payload;
    const bool config = p.size() >= 4 && p[0] == 0 && p[1] == 0 && p[2] == 1 &&
                        p[3] == mp4v::kVisualObjectSequenceCode;
    frames->push_back({packet->header.timestamp, config});
  }
}

// A short stream of real MPEG-4 frames: 40 frames of a bouncing ball, a keyframe
// every 10.
const std::vector<Bytes>& EncodedFrames() {
  static const std::vector<Bytes> frames = [] {
    EnsureGStreamer();
    std::vector<Bytes> out;
    GErrorOwner error;
    GstElementRef pipeline = AdoptFloating(gst_parse_launch(
        "videotestsrc num-buffers=40 pattern=ball ! "
        "video/x-raw,format=I420,width=320,height=240,framerate=30/1 ! "
        "avenc_mpeg4 gop-size=10 max-bframes=0 ! appsink name=out sync=false",
        error.out()));
    if (!pipeline) return out;
    GstElementRef sink = GstElementRef::Adopt(gst_bin_get_by_name(GST_BIN(pipeline.get()), "out"));
    gst_element_set_state(pipeline.get(), GST_STATE_PLAYING);
    while (GstSample* sample =
               gst_app_sink_try_pull_sample(GST_APP_SINK(sink.get()), 10 * GST_SECOND)) {
      GstSampleRef owned = GstSampleRef::Adopt(sample);
      GstBuffer* buffer = gst_sample_get_buffer(sample);
      Bytes bytes(gst_buffer_get_size(buffer));
      gst_buffer_extract(buffer, 0, bytes.data(), bytes.size());
      out.push_back(std::move(bytes));
    }
    gst_element_set_state(pipeline.get(), GST_STATE_NULL);
    return out;
  }();
  return frames;
}

// The RTP datagrams of `frames`, as a sender on another host would send them.
std::vector<Bytes> Packetize(const std::vector<Bytes>& frames) {
  mp4v::Packetizer::Settings settings;
  settings.ssrc = 0x5EC0FFEE;
  settings.first_sequence = 1000;
  settings.max_payload = 200;
  mp4v::Packetizer packetizer(settings);
  std::vector<Bytes> datagrams;
  for (std::size_t i = 0; i < frames.size(); ++i) {
    const auto result = packetizer.Packetize(frames[i], i * 33'333'333ull);
    for (const mp4v::OutgoingPacket& packet : result.packets) {
      Bytes datagram(packet.header.begin(), packet.header.end());
      for (const auto& piece : packet.payload) datagram.insert(datagram.end(), piece.begin(), piece.end());
      datagrams.push_back(std::move(datagram));
    }
  }
  return datagrams;
}

std::uint64_t Number(QDialog* dialog, const char* label) {
  return dialog->findChild<QLabel*>(QString::fromLatin1(label))->text().toULongLong();
}

class ConfigWhileStreamingTest : public ::testing::Test {
 protected:
  void SetUp() override {
    TestApplication();
    CoInitialize(nullptr);
    RegisterPresenterLinkClasses();
    SetCaptureDeviceListerForTesting([] { return std::vector<CaptureDevice>{}; });
    live_at_start_ = ComLiveObjectCount();
    form_ = TForm1::Create(TestPatternLayout());
    ASSERT_NE(form_, nullptr);
    form_->Show();
  }
  void TearDown() override {
    EXPECT_EQ(QApplication::activeModalWidget(), nullptr) << "a dialog was left open";
    if (form_) form_->Close();
    form_.reset();
    QCoreApplication::processEvents();
    SetCaptureDeviceListerForTesting(nullptr);
    EXPECT_EQ(ComLiveObjectCount(), live_at_start_);
    CoUninitialize();
  }

  NetworkStatistics StatisticsOf(TFilter* slot) {
    ComPtr<INetworkStatistics> statistics;
    NetworkStatistics s;
    if (SUCCEEDED(slot->Instance().As(&statistics))) statistics->GetStatistics(&s);
    return s;
  }

  OAFilterState SendGraphState() {
    ComPtr<IMediaControl> control;
    OAFilterState state = -1;
    if (SUCCEEDED(form_->FilterGraph->GraphManager().As(&control))) control->GetState(0, &state);
    return state;
  }

  // Endpoint to the sender, then Send; returns once packets go out.
  void StartSending() {
    form_->Button1->Click();
    form_->GO->Click();
    ASSERT_TRUE(RunLoopUntil([&] { return StatisticsOf(form_->SenderFilter).packets > 0; }))
        << "the send graph puts nothing on the group";
  }

  long live_at_start_ = 0;
  std::unique_ptr<TForm1> form_;
};

TEST_F(ConfigWhileStreamingTest, SenderPageWhileSending_CountsUpShowsTheSdpAndTheGraphRunsOn) {
  ReportedErrors errors;
  ASSERT_NO_FATAL_FAILURE(StartSending());

  std::vector<std::uint64_t> packets_shown;
  QString sdp;
  OAFilterState state_while_open = -1;
  bool counted = false;
  {
    WhenModal step([&](QDialog* dialog) {
      // Three different counts, a second apart: the page refreshes itself.
      counted = RunLoopUntil([&] {
        const std::uint64_t shown = Number(dialog, "packets");
        if (packets_shown.empty() || packets_shown.back() != shown) packets_shown.push_back(shown);
        return packets_shown.size() >= 3;
      });
      sdp = dialog->findChild<QPlainTextEdit*>(QStringLiteral("sdp"))->toPlainText();
      state_while_open = SendGraphState();
      dialog->findChild<QDialogButtonBox*>()->button(QDialogButtonBox::Cancel)->click();
    });
    form_->Button10->Click();
  }
  EXPECT_TRUE(counted) << "the packet count on the page did not move";
  for (std::size_t i = 1; i < packets_shown.size(); ++i) EXPECT_GT(packets_shown[i], packets_shown[i - 1]);
  EXPECT_TRUE(sdp.contains(QStringLiteral("m=video 9000 RTP/AVP 96"))) << sdp.toStdString();
  EXPECT_TRUE(sdp.contains(QStringLiteral("c=IN IP4 235.1.2.3/1"))) << sdp.toStdString();
  EXPECT_TRUE(sdp.contains(QStringLiteral(";config="))) << sdp.toStdString();
  EXPECT_EQ(state_while_open, State_Running);

  // Closed again, the graph still runs and sends.
  EXPECT_EQ(SendGraphState(), State_Running);
  const std::uint64_t after_close = StatisticsOf(form_->SenderFilter).packets;
  EXPECT_TRUE(RunLoopUntil([&] { return StatisticsOf(form_->SenderFilter).packets > after_close; }));
  EXPECT_EQ(errors.Text(), "");
}

TEST_F(ConfigWhileStreamingTest, EncoderDialogWhileSending_TheChangeReachesTheWireAtOnce) {
  GroupSocket group;
  ASSERT_TRUE(group.Ready()) << "cannot join " << net::kGroupAddress;
  ReportedErrors errors;
  ASSERT_NO_FATAL_FAILURE(StartSending());

  {
    WhenModal step([&](QDialog* dialog) {
      dialog->findChild<QSpinBox*>(QStringLiteral("keyframeInterval"))->setValue(10);
      dialog->findChild<QDialogButtonBox*>()->button(QDialogButtonBox::Ok)->click();
    });
    form_->Button9->Click();
  }
  // What was on the wire before the change goes; what follows is read.
  group.Take();
  std::vector<WireFrame> frames;
  ASSERT_TRUE(RunLoopUntil([&] {
    CollectFrames(group.Take(), &frames);
    return frames.size() >= 30;
  })) << frames.size() << " frames after the change";

  // A frame or two may have been past the encoder already; then a keyframe with
  // its config, and from there one every 10 frames.
  std::size_t first = frames.size();
  for (std::size_t i = 0; i < 4 && i < frames.size(); ++i) {
    if (frames[i].keyframe) first = i;
  }
  ASSERT_LT(first, 4u) << "no keyframe right after the change";
  for (std::size_t i = first + 1; i < first + 25 && i < frames.size(); ++i) {
    EXPECT_EQ(frames[i].keyframe, (i - first) % 10 == 0) << "frame " << i - first << " after it";
  }
  EXPECT_EQ(SendGraphState(), State_Running);
  EXPECT_EQ(errors.Text(), "");
}

TEST_F(ConfigWhileStreamingTest, ReceiverPage_CountsAnArrivingStreamAndShowsWhatWasLost) {
  GroupSocket sender(GroupSocket::SendOnly{});
  ASSERT_TRUE(sender.Ready());
  const std::vector<Bytes> datagrams = Packetize(EncodedFrames());
  ASSERT_GE(datagrams.size(), 45u);
  ReportedErrors errors;
  form_->Button2->Click();  // the receiver's endpoint
  form_->Button4->Click();  // Receive
  ASSERT_TRUE(RunLoopUntil([&] { return StatisticsOf(form_->ReceiveFilter).listening; }));

  const std::size_t half = datagrams.size() / 2;
  std::uint64_t dropped = 0;
  std::map<std::string, std::uint64_t> first_half;
  std::map<std::string, std::uint64_t> second_half;
  QString last_packet_before;
  QString last_packet_after;
  bool first_seen = false;
  bool second_seen = false;
  {
    WhenModal step([&](QDialog* dialog) {
      last_packet_before = dialog->findChild<QLabel*>(QStringLiteral("lastPacket"))->text();
      // The first half as it was sent; then one datagram that is not the stream.
      for (std::size_t i = 0; i < half; ++i) sender.Send(datagrams[i]);
      const Bytes foreign = {'h', 'e', 'l', 'l', 'o'};
      sender.Send(foreign);
      first_seen = RunLoopUntil([&] {
        return Number(dialog, "packets") == half && Number(dialog, "foreignDropped") == 1;
      });
      for (const char* name : {"packets", "lost", "foreignDropped"}) first_half[name] = Number(dialog, name);

      // The second half with every seventh datagram dropped on the way (never the last).
      for (std::size_t i = half; i < datagrams.size(); ++i) {
        if ((i - half) % 7 == 3 && i + 1 < datagrams.size()) {
          ++dropped;
          continue;
        }
        sender.Send(datagrams[i]);
      }
      second_seen = RunLoopUntil([&] { return Number(dialog, "lost") == dropped; });
      for (const char* name : {"packets", "lost", "foreignDropped"}) second_half[name] = Number(dialog, name);
      last_packet_after = dialog->findChild<QLabel*>(QStringLiteral("lastPacket"))->text();
      dialog->findChild<QDialogButtonBox*>()->button(QDialogButtonBox::Cancel)->click();
    });
    form_->Button5->Click();
  }
  EXPECT_TRUE(first_seen) << "packets " << first_half["packets"] << " of " << half;
  EXPECT_EQ(first_half["lost"], 0u);
  EXPECT_EQ(first_half["foreignDropped"], 1u);
  EXPECT_TRUE(second_seen) << "lost " << second_half["lost"] << " of " << dropped << " dropped";
  EXPECT_GT(dropped, 0u);
  EXPECT_EQ(second_half["packets"], datagrams.size() - dropped);
  EXPECT_EQ(second_half["lost"], dropped);
  EXPECT_EQ(last_packet_before, QStringLiteral("— (none yet)"));
  EXPECT_NE(last_packet_after, last_packet_before);
  EXPECT_EQ(errors.Text(), "");
}

}  // namespace
