// The network sender and receiver on a group, inside the private namespace:
// real MPEG-4 frames go out as RTP, come back as the same frames, follow an
// endpoint change without a stop, survive foreign datagrams, and the sender's
// SDP description comes and goes with its endpoint.
#include <arpa/inet.h>
#include <gst/app/gstappsink.h>
#include <gst/app/gstappsrc.h>
#include <gst/gst.h>
#include <gtest/gtest.h>
#include <netinet/in.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "filter_pipeline.h"
#include "filters/network_interface.h"
#include "filters/network_receiver.h"
#include "filters/network_sender.h"
#include "filters/network_statistics.h"
#include "filters/rtp_packet.h"
#include "platform/com/storage.h"
#include "platform/dshow/gst_ref.h"
#include "support/group_socket.h"

namespace {

using Bytes = std::vector<std::uint8_t>;
using Clock = std::chrono::steady_clock;

constexpr const char* kGroup = "235.1.2.3";
constexpr std::uint16_t kPort = 9000;
constexpr std::uint16_t kOtherPort = 9002;
constexpr int kKeyframeInterval = 5;

struct EncodedFrame {
  Bytes data;
  bool keyframe = false;
};

// A few seconds' worth of real MPEG-4 Part 2 frames from GStreamer's encoder,
// made once: a keyframe (with its config) every kKeyframeInterval frames.
const std::vector<EncodedFrame>& Frames() {
  static const std::vector<EncodedFrame> frames = [] {
    EnsureGStreamer();
    std::vector<EncodedFrame> out;
    GErrorOwner error;
    const std::string description =
        "videotestsrc num-buffers=20 pattern=ball ! "
        "video/x-raw,format=I420,width=320,height=240,framerate=30/1 ! "
        "avenc_mpeg4 gop-size=" + std::to_string(kKeyframeInterval) +
        " max-bframes=0 ! appsink name=out sync=false";
    GstElementRef pipeline =
        AdoptFloating(gst_parse_launch(description.c_str(), error.out()));
    if (!pipeline) return out;
    GstElementRef sink =
        GstElementRef::Adopt(gst_bin_get_by_name(GST_BIN(pipeline.get()), "out"));
    gst_element_set_state(pipeline.get(), GST_STATE_PLAYING);
    while (GstSample* sample = gst_app_sink_try_pull_sample(GST_APP_SINK(sink.get()),
                                                            10 * GST_SECOND)) {
      GstSampleRef owned = GstSampleRef::Adopt(sample);
      GstBuffer* buffer = gst_sample_get_buffer(sample);
      GstMapInfo map;
      gst_buffer_map(buffer, &map, GST_MAP_READ);
      out.push_back({Bytes(map.data, map.data + map.size),
                     !GST_BUFFER_FLAG_IS_SET(buffer, GST_BUFFER_FLAG_DELTA_UNIT)});
      gst_buffer_unmap(buffer, &map);
    }
    gst_element_set_state(pipeline.get(), GST_STATE_NULL);
    return out;
  }();
  return frames;
}

// The bytes a frame starts with up to its GOV or VOP: its config.
Bytes LeadingConfig(const Bytes& frame) {
  for (std::size_t i = 0; i + 3 < frame.size(); ++i) {
    if (frame[i] == 0 && frame[i + 1] == 0 && frame[i + 2] == 1 &&
        (frame[i + 3] == 0xB3 || frame[i + 3] == 0xB6)) {
      return Bytes(frame.begin(), frame.begin() + static_cast<std::ptrdiff_t>(i));
    }
  }
  return {};
}

bool WaitUntil(const std::function<bool()>& done,
               std::chrono::milliseconds limit = std::chrono::seconds(10)) {
  const auto end = Clock::now() + limit;
  while (!done()) {
    if (Clock::now() > end) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
  return true;
}

std::uint32_t PortArgument(std::uint16_t port) { return std::uint32_t(htons(port)); }

// appsrc -> sender: frames pushed by the test as an encoder would hand them over.
struct SendSide {
  ComPtr<NetworkSender> filter = MakeComObject<NetworkSender>();
  FilterPipeline pipeline{filter.Get()};
  GstElement* source = nullptr;
  int pushed = 0;

  SendSide() {
    source = pipeline.Add("appsrc");
    GstCapsRef caps = GstCapsRef::Adopt(
        gst_caps_from_string("video/mpeg, mpegversion=4, systemstream=false"));
    g_object_set(source, "caps", caps.get(), "format", GST_FORMAT_TIME, nullptr);
    gst_element_link(source, pipeline.filter());
  }
  void SetEndpoint(std::uint16_t port) {
    EXPECT_EQ(filter->SetEndpoint(inet_addr(kGroup), PortArgument(port)), S_OK);
    EXPECT_EQ(filter->SetParameter(0), S_OK);
  }
  // Pushes frames [from, to) and waits until the sender has handled them all.
  bool Send(int from, int to) {
    for (int i = from; i < to; ++i) {
      const Bytes& data = Frames()[static_cast<std::size_t>(i)].data;
      GstBuffer* buffer = gst_buffer_new_memdup(data.data(), data.size());
      // 30 frames a second, on from the last frame pushed.
      GST_BUFFER_PTS(buffer) =
          gst_util_uint64_scale(static_cast<guint64>(pushed), GST_SECOND, 30);
      if (gst_app_src_push_buffer(GST_APP_SRC(source), buffer) != GST_FLOW_OK) return false;
      ++pushed;
    }
    return WaitUntil([&] { return Statistics().frames + Statistics().frames_without_endpoint ==
                                  static_cast<std::uint64_t>(pushed); });
  }
  NetworkStatistics Statistics() {
    NetworkStatistics s;
    filter->GetStatistics(&s);
    return s;
  }
};

// receiver -> appsink: what the receiver hands downstream.
struct ReceiveSide {
  ComPtr<NetworkReceiver> filter = MakeComObject<NetworkReceiver>();
  FilterPipeline pipeline{filter.Get()};
  GstElement* sink = nullptr;

  ReceiveSide() {
    sink = pipeline.Add("appsink");
    g_object_set(sink, "sync", FALSE, "async", FALSE, nullptr);
    gst_element_link(pipeline.filter(), sink);
  }
  // Moves to `port` and waits until the socket is open in the group.
  bool Listen(std::uint16_t port) {
    EXPECT_EQ(filter->SetEndpoint(inet_addr(kGroup), PortArgument(port)), S_OK);
    EXPECT_EQ(filter->SetParameter(0), S_OK);
    return WaitUntil([&] { return Statistics().listening; });
  }
  std::vector<GstSampleRef> Take(std::size_t count) {
    std::vector<GstSampleRef> samples;
    while (samples.size() < count) {
      GstSample* sample = gst_app_sink_try_pull_sample(GST_APP_SINK(sink), 5 * GST_SECOND);
      if (!sample) break;
      samples.push_back(GstSampleRef::Adopt(sample));
    }
    return samples;
  }
  NetworkStatistics Statistics() {
    NetworkStatistics s;
    filter->GetStatistics(&s);
    return s;
  }
};

Bytes BytesOf(GstSample* sample) {
  GstBuffer* buffer = gst_sample_get_buffer(sample);
  Bytes bytes(gst_buffer_get_size(buffer));
  gst_buffer_extract(buffer, 0, bytes.data(), bytes.size());
  return bytes;
}

std::string ReadFile(const std::filesystem::path& file) {
  std::ifstream in(file, std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

std::string Hex(const Bytes& bytes) {
  std::string out;
  char digits[3];
  for (const std::uint8_t b : bytes) {
    std::snprintf(digits, sizeof digits, "%02X", b);
    out += digits;
  }
  return out;
}

class NetworkStream : public ::testing::Test {
 protected:
  void SetUp() override {
    EnsureGStreamer();
    ASSERT_GE(Frames().size(), 3u * kKeyframeInterval) << "the encoder made no frames";
    ASSERT_TRUE(Frames()[0].keyframe);
    ASSERT_FALSE(LeadingConfig(Frames()[0].data).empty()) << "the first keyframe has its config";
    objects_at_start_ = ComLiveObjectCount();
  }
  void TearDown() override { EXPECT_EQ(ComLiveObjectCount(), objects_at_start_); }

  long objects_at_start_ = 0;
};

TEST_F(NetworkStream, SenderPutsFramesOnTheGroupAsRtp) {
  GroupSocket listener(kPort);
  ASSERT_TRUE(listener.Ready());
  {
    SendSide sender;
    sender.SetEndpoint(kPort);
    ASSERT_TRUE(sender.pipeline.Play());
    const int count = 2 * kKeyframeInterval;
    ASSERT_TRUE(sender.Send(0, count));

    const std::vector<Bytes> datagrams = listener.Take();
    std::vector<Bytes> frames(1);
    std::vector<std::uint32_t> stamps;
    std::optional<std::uint16_t> last_sequence;
    for (const Bytes& datagram : datagrams) {
      const auto packet = ParseRtp(datagram);
      ASSERT_TRUE(packet);
      EXPECT_EQ(packet->header.payload_type, 96);
      EXPECT_EQ(packet->header.ssrc, sender.Statistics().ssrc);
      EXPECT_LE(datagram.size(), 12u + 1400u);
      if (last_sequence) {
        EXPECT_EQ(packet->header.sequence, std::uint16_t(*last_sequence + 1));
      }
      last_sequence = packet->header.sequence;
      frames.back().insert(frames.back().end(), packet->payload.begin(), packet->payload.end());
      if (packet->header.marker) {
        stamps.push_back(packet->header.timestamp);
        frames.emplace_back();
      }
    }
    frames.pop_back();
    ASSERT_EQ(frames.size(), static_cast<std::size_t>(count)) << "one marker per frame";
    for (int i = 0; i < count; ++i) {
      EXPECT_EQ(frames[static_cast<std::size_t>(i)], Frames()[static_cast<std::size_t>(i)].data)
          << "frame " << i;
      if (i > 0) {
        EXPECT_EQ(stamps[static_cast<std::size_t>(i)] - stamps[static_cast<std::size_t>(i) - 1],
                  3000u)
            << "30 frames a second";
      }
    }
    const NetworkStatistics s = sender.Statistics();
    EXPECT_EQ(s.packets, datagrams.size());
    EXPECT_EQ(s.frames, static_cast<std::uint64_t>(count));
    EXPECT_EQ(s.keyframes, 2u);
    EXPECT_EQ(s.send_errors, 0u);
  }
}

TEST_F(NetworkStream, ReceiverOutputsTheFramesSent) {
  ReceiveSide receiver;
  ASSERT_TRUE(receiver.pipeline.Play());
  ASSERT_TRUE(receiver.Listen(kPort));
  SendSide sender;
  sender.SetEndpoint(kPort);
  ASSERT_TRUE(sender.pipeline.Play());
  const int count = 3 * kKeyframeInterval;
  ASSERT_TRUE(sender.Send(0, count));

  const auto samples = receiver.Take(count);
  ASSERT_EQ(samples.size(), static_cast<std::size_t>(count));
  for (int i = 0; i < count; ++i) {
    GstBuffer* buffer = gst_sample_get_buffer(samples[static_cast<std::size_t>(i)].get());
    EXPECT_EQ(BytesOf(samples[static_cast<std::size_t>(i)].get()),
              Frames()[static_cast<std::size_t>(i)].data)
        << "frame " << i;
    EXPECT_EQ(!GST_BUFFER_FLAG_IS_SET(buffer, GST_BUFFER_FLAG_DELTA_UNIT),
              Frames()[static_cast<std::size_t>(i)].keyframe)
        << "frame " << i;
    EXPECT_TRUE(GST_BUFFER_PTS_IS_VALID(buffer)) << "stamped on arrival";
  }
  GstCaps* caps = gst_sample_get_caps(samples[0].get());
  ASSERT_TRUE(caps);
  GstCapsRef expected = GstCapsRef::Adopt(
      gst_caps_from_string("video/mpeg, mpegversion=4, systemstream=false"));
  EXPECT_TRUE(gst_caps_is_subset(caps, expected.get()));

  const NetworkStatistics r = receiver.Statistics();
  EXPECT_EQ(r.packets, sender.Statistics().packets);
  EXPECT_EQ(r.frames, static_cast<std::uint64_t>(count));
  EXPECT_EQ(r.keyframes, 3u);
  EXPECT_EQ(r.lost, 0u);
  EXPECT_EQ(r.foreign_dropped, 0u);
  EXPECT_EQ(r.ssrc, sender.Statistics().ssrc);
  EXPECT_GE(r.seconds_since_last_packet, 0);
  EXPECT_GT(r.receive_buffer_granted, 0u);
  EXPECT_EQ(r.receive_buffer_requested, 2u * 1024 * 1024);
}

TEST_F(NetworkStream, EndpointChangeMovesTheStreamWithoutStopping) {
  GroupSocket old_port(kPort);
  GroupSocket new_port(kOtherPort);
  ASSERT_TRUE(old_port.Ready() && new_port.Ready());
  ReceiveSide receiver;
  ASSERT_TRUE(receiver.pipeline.Play());
  ASSERT_TRUE(receiver.Listen(kPort));
  SendSide sender;
  sender.SetEndpoint(kPort);
  ASSERT_TRUE(sender.pipeline.Play());

  ASSERT_TRUE(sender.Send(0, kKeyframeInterval));
  const std::size_t sent_before = sender.Statistics().packets;
  EXPECT_EQ(old_port.Take().size(), sent_before);
  EXPECT_TRUE(new_port.Take().empty());
  ASSERT_EQ(receiver.Take(kKeyframeInterval).size(), std::size_t(kKeyframeInterval));

  // Both move while they run.
  ASSERT_TRUE(receiver.Listen(kOtherPort));
  sender.SetEndpoint(kOtherPort);
  ASSERT_TRUE(sender.Send(kKeyframeInterval, 2 * kKeyframeInterval));
  EXPECT_TRUE(old_port.Take().empty()) << "the old port gets nothing more";
  EXPECT_EQ(new_port.Take().size(), sender.Statistics().packets - sent_before);

  const auto samples = receiver.Take(kKeyframeInterval);
  ASSERT_EQ(samples.size(), std::size_t(kKeyframeInterval));
  for (int i = 0; i < kKeyframeInterval; ++i) {
    EXPECT_EQ(BytesOf(samples[static_cast<std::size_t>(i)].get()),
              Frames()[static_cast<std::size_t>(kKeyframeInterval + i)].data);
  }
  EXPECT_EQ(sender.pipeline.State(), GST_STATE_PLAYING);
  EXPECT_EQ(receiver.pipeline.State(), GST_STATE_PLAYING);
  EXPECT_EQ(receiver.Statistics().port, kOtherPort);
}

TEST_F(NetworkStream, StreamArrivesWhenBothNameLoopbackAndFollowsANewChoice) {
  ReceiveSide receiver;
  ASSERT_EQ(receiver.filter->SetInterface("lo"), S_OK);
  ASSERT_TRUE(receiver.pipeline.Play());
  ASSERT_TRUE(receiver.Listen(kPort));
  SendSide sender;
  ASSERT_EQ(sender.filter->SetInterface("lo"), S_OK);
  sender.SetEndpoint(kPort);
  ASSERT_TRUE(sender.pipeline.Play());

  ASSERT_TRUE(sender.Send(0, kKeyframeInterval));
  auto samples = receiver.Take(kKeyframeInterval);
  ASSERT_EQ(samples.size(), std::size_t(kKeyframeInterval));
  for (int i = 0; i < kKeyframeInterval; ++i) {
    EXPECT_EQ(BytesOf(samples[static_cast<std::size_t>(i)].get()),
              Frames()[static_cast<std::size_t>(i)].data)
        << "frame " << i;
  }

  // Back to the routing table's choice while both run: the receiver leaves and
  // joins again at once, the sender's next datagram goes out by the route.
  ASSERT_EQ(receiver.filter->SetInterface(""), S_OK);
  ASSERT_TRUE(WaitUntil([&] { return receiver.Statistics().listening; }));
  ASSERT_EQ(sender.filter->SetInterface(""), S_OK);
  ASSERT_TRUE(sender.Send(kKeyframeInterval, 2 * kKeyframeInterval));
  samples = receiver.Take(kKeyframeInterval);
  ASSERT_EQ(samples.size(), std::size_t(kKeyframeInterval));
  for (int i = 0; i < kKeyframeInterval; ++i) {
    EXPECT_EQ(BytesOf(samples[static_cast<std::size_t>(i)].get()),
              Frames()[static_cast<std::size_t>(kKeyframeInterval + i)].data)
        << "frame " << kKeyframeInterval + i;
  }
  EXPECT_EQ(sender.Statistics().send_errors, 0u);
  EXPECT_EQ(receiver.Statistics().lost, 0u);
  EXPECT_EQ(receiver.pipeline.State(), GST_STATE_PLAYING);
}

TEST_F(NetworkStream, ForeignDatagramsAreDroppedAndCounted) {
  ReceiveSide receiver;
  ASSERT_TRUE(receiver.pipeline.Play());
  ASSERT_TRUE(receiver.Listen(kPort));
  SendSide sender;
  sender.SetEndpoint(kPort);
  ASSERT_TRUE(sender.pipeline.Play());
  ASSERT_TRUE(sender.Send(0, 3));
  ASSERT_EQ(receiver.Take(3).size(), 3u);
  const std::uint64_t packets = receiver.Statistics().packets;

  const auto datagram = [](std::uint8_t payload_type, std::uint32_t ssrc) {
    RtpHeader header;
    header.payload_type = payload_type;
    header.ssrc = ssrc;
    const auto bytes = WriteRtpHeader(header);
    const std::uint8_t vop[] = {0, 0, 1, 0xB6, 0x10, 0x20};
    Bytes d(bytes.size() + sizeof vop);
    std::copy(bytes.begin(), bytes.end(), d.begin());
    std::copy(std::begin(vop), std::end(vop), d.begin() + kRtpHeaderSize);
    return d;
  };
  const std::uint32_t ssrc = sender.Statistics().ssrc;
  Bytes version1 = datagram(96, ssrc);
  version1[0] = 0x40;
  const std::vector<Bytes> foreign = {
      {0xDE, 0xAD, 0xBE, 0xEF},  // too short for RTP
      version1,
      datagram(33, ssrc),           // another payload type
      datagram(96, ssrc ^ 0x5A5A),  // another source
      Bytes(6000, 0x80),  // larger than any packet of ours
  };
  GroupSocket intruder(kOtherPort);
  for (const Bytes& datagram : foreign) ASSERT_TRUE(intruder.Send(datagram, kPort));
  ASSERT_TRUE(WaitUntil([&] { return receiver.Statistics().foreign_dropped == foreign.size(); }))
      << receiver.Statistics().foreign_dropped;
  EXPECT_EQ(receiver.Statistics().packets, packets);

  // The stream goes on as if nothing had come.
  ASSERT_TRUE(sender.Send(3, 6));
  const auto samples = receiver.Take(3);
  ASSERT_EQ(samples.size(), 3u);
  for (int i = 0; i < 3; ++i) {
    EXPECT_EQ(BytesOf(samples[static_cast<std::size_t>(i)].get()),
              Frames()[static_cast<std::size_t>(3 + i)].data);
  }
  EXPECT_EQ(receiver.Statistics().foreign_dropped, foreign.size());
  EXPECT_EQ(receiver.Statistics().lost, 0u);
}

TEST_F(NetworkStream, SdpDescriptionFollowsEndpointAndGoesWithFilter) {
  // Ports of their own: the program's 9000 file may be someone else's.
  const std::uint16_t first = 9010;
  const std::uint16_t second = 9012;
  const auto first_file = RuntimeDirectory() / "235.1.2.3-9010.sdp";
  const auto second_file = RuntimeDirectory() / "235.1.2.3-9012.sdp";
  // Left over from a run that crashed, if any.
  std::filesystem::remove(first_file);
  std::filesystem::remove(second_file);
  {
    SendSide sender;
    sender.SetEndpoint(first);
    ASSERT_TRUE(sender.pipeline.Play());
    EXPECT_FALSE(std::filesystem::exists(first_file)) << "no config known yet";
    ASSERT_TRUE(sender.Send(0, 1));
    ASSERT_TRUE(std::filesystem::exists(first_file));
    EXPECT_EQ(sender.filter->PublishedDescription(), first_file);

    const Bytes config = LeadingConfig(Frames()[0].data);
    const std::string sdp = ReadFile(first_file);
    EXPECT_NE(sdp.find("c=IN IP4 235.1.2.3/1\r\n"), std::string::npos) << sdp;
    EXPECT_NE(sdp.find("m=video 9010 RTP/AVP 96\r\n"), std::string::npos) << sdp;
    EXPECT_NE(sdp.find("a=rtpmap:96 MP4V-ES/90000\r\n"), std::string::npos) << sdp;
    EXPECT_NE(sdp.find("a=fmtp:96 profile-level-id=" + std::to_string(config[4]) +
                       ";config=" + Hex(config) + "\r\n"),
              std::string::npos)
        << sdp;

    sender.SetEndpoint(second);
    EXPECT_FALSE(std::filesystem::exists(first_file)) << "the old description goes";
    EXPECT_TRUE(std::filesystem::exists(second_file));
  }
  EXPECT_FALSE(std::filesystem::exists(second_file)) << "and the last one with the filter";
}

// A standard RTP receiver (GStreamer's own, set up from nothing but our SDP file)
// decodes the stream.
TEST_F(NetworkStream, StockReceiverDecodesStreamFromSdpAlone) {
  const std::uint16_t port = 9020;
  SendSide sender;
  sender.SetEndpoint(port);
  ASSERT_TRUE(sender.pipeline.Play());
  ASSERT_TRUE(sender.Send(0, 1));  // the config is known: the description is out
  const auto file = sender.filter->PublishedDescription();
  ASSERT_FALSE(file.empty());

  GErrorOwner error;
  const std::string description = "filesrc location=" + file.string() +
                                  " ! sdpdemux latency=0 ! rtpmp4vdepay ! avdec_mpeg4 ! "
                                  "appsink name=out sync=false async=false";
  GstElementRef player = AdoptFloating(gst_parse_launch(description.c_str(), error.out()));
  ASSERT_TRUE(player) << (error.error ? error.error->message : "");
  GstElementRef sink = GstElementRef::Adopt(gst_bin_get_by_name(GST_BIN(player.get()), "out"));
  gst_element_set_state(player.get(), GST_STATE_PLAYING);
  const auto pull = [&](GstClockTime wait) {
    GstSampleRef sample =
        GstSampleRef::Adopt(gst_app_sink_try_pull_sample(GST_APP_SINK(sink.get()), wait));
    if (!sample) return false;
    int width = 0;
    gst_structure_get_int(gst_caps_get_structure(gst_sample_get_caps(sample.get()), 0), "width",
                          &width);
    EXPECT_EQ(width, 320);
    return true;
  };

  // What goes out before the player has joined is lost to it: send whole groups
  // of pictures until pictures come out.
  bool joined = false;
  for (int round = 0; round < 20 && !joined; ++round) {
    ASSERT_TRUE(sender.Send(0, kKeyframeInterval));
    joined = pull(200 * GST_MSECOND);
  }
  ASSERT_TRUE(joined) << "the stock receiver decoded nothing";
  while (pull(200 * GST_MSECOND)) {
  }

  const int count = 2 * kKeyframeInterval;
  ASSERT_TRUE(sender.Send(0, count));
  int decoded = 0;
  while (decoded < count && pull(3 * GST_SECOND)) ++decoded;
  gst_element_set_state(player.get(), GST_STATE_NULL);
  EXPECT_GE(decoded, count - 1) << "the last picture may wait for its successor there";
}

}  // namespace
