#include "filters/rtp_mp4v.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <vector>

namespace {

using Bytes = std::vector<std::uint8_t>;
using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

// A configuration as an MPEG-4 Part 2 encoder writes it: visual object sequence
// (profile and level 3), visual object, video object, video object layer.
const Bytes kConfig = {0x00, 0x00, 0x01, 0xB0, 0x03, 0x00, 0x00, 0x01, 0xB5, 0x09,
                       0x00, 0x00, 0x01, 0x00, 0x00, 0x00, 0x01, 0x20, 0x00, 0xC4,
                       0x8D, 0x88, 0x00, 0xF5, 0x14, 0x04, 0x1E, 0x14, 0x63};
const Bytes kGov = {0x00, 0x00, 0x01, 0xB3, 0x00, 0x10, 0x07};

Bytes Concat(std::initializer_list<Bytes> parts) {
  Bytes out;
  for (const Bytes& part : parts) out.insert(out.end(), part.begin(), part.end());
  return out;
}

// A VOP of `size` bytes; its body never contains a start code prefix.
Bytes Vop(bool intra, std::size_t size, std::uint8_t seed = 1) {
  Bytes vop = {0x00, 0x00, 0x01, 0xB6, static_cast<std::uint8_t>(intra ? 0x10 : 0x50)};
  for (std::size_t i = vop.size(); i < size; ++i) {
    vop.push_back(static_cast<std::uint8_t>(0x10 + (i * 7 + seed) % 0xE0));
  }
  vop.resize(size);
  return vop;
}

mp4v::Packetizer::Settings FixedSettings(std::uint16_t first_sequence = 100) {
  mp4v::Packetizer::Settings settings;
  settings.ssrc = 0x11223344;
  settings.first_sequence = first_sequence;
  settings.timestamp_offset = 5000;
  return settings;
}

Bytes Payload(const mp4v::OutgoingPacket& packet) {
  return Concat({Bytes(packet.payload[0].begin(), packet.payload[0].end()),
                 Bytes(packet.payload[1].begin(), packet.payload[1].end())});
}

Bytes Datagram(const mp4v::OutgoingPacket& packet) {
  return Concat({Bytes(packet.header.begin(), packet.header.end()), Payload(packet)});
}

// 30 frames a second, as GStreamer stamps them.
std::uint64_t FrameTime(int index) { return std::uint64_t(index) * 1'000'000'000 / 30; }

// The datagrams of a run of frames, in order, one vector per frame.
std::vector<std::vector<Bytes>> Packetize(mp4v::Packetizer* packetizer,
                                          const std::vector<Bytes>& frames) {
  std::vector<std::vector<Bytes>> out;
  for (std::size_t i = 0; i < frames.size(); ++i) {
    const auto result = packetizer->Packetize(frames[i], FrameTime(int(i)));
    std::vector<Bytes> datagrams;
    for (const auto& packet : result.packets) datagrams.push_back(Datagram(packet));
    out.push_back(std::move(datagrams));
  }
  return out;
}

struct Receiver {
  mp4v::Depacketizer depacketizer;
  std::vector<mp4v::ReceivedFrame> frames;
  Clock::time_point now{};

  explicit Receiver(milliseconds window = milliseconds(0)) : depacketizer(window) {}
  void Push(const Bytes& datagram) {
    now += milliseconds(1);
    depacketizer.Push(datagram, now, &frames);
  }
  void PushAll(const std::vector<std::vector<Bytes>>& run) {
    for (const auto& frame : run)
      for (const auto& datagram : frame) Push(datagram);
  }
  std::vector<Bytes> Data() const {
    std::vector<Bytes> out;
    for (const auto& frame : frames) out.push_back(frame.data);
    return out;
  }
  const mp4v::RtpReceiveCounters& counters() const { return depacketizer.Counters(); }
};

// Stream parsing --------------------------------------------------------------

TEST(Mp4vFrameLayout, FindsConfigAndFrameType) {
  const Bytes user_data = {0x00, 0x00, 0x01, 0xB2, 'L', 'a', 'v', 'c'};
  const Bytes config_with_user_data = Concat({kConfig, user_data});
  const Bytes config_without_layer(kConfig.begin(), kConfig.begin() + 14);
  struct Case {
    const char* name;
    Bytes frame;
    Bytes config;
    bool keyframe;
  } cases[] = {
      {"config and intra VOP", Concat({kConfig, Vop(true, 40)}), kConfig, true},
      {"config, GOV and intra VOP", Concat({kConfig, kGov, Vop(true, 40)}), kConfig, true},
      {"config with user data", Concat({config_with_user_data, Vop(true, 40)}),
       config_with_user_data, true},
      {"intra VOP alone", Vop(true, 40), {}, true},
      {"GOV and intra VOP", Concat({kGov, Vop(true, 40)}), {}, true},
      {"predicted VOP", Vop(false, 40), {}, false},
      {"no video object layer", Concat({config_without_layer, Vop(true, 40)}), {}, true},
      {"config only", kConfig, kConfig, false},
  };
  for (const Case& c : cases) {
    const mp4v::FrameLayout layout = mp4v::ReadFrameLayout(c.frame);
    EXPECT_EQ(Bytes(layout.config.begin(), layout.config.end()), c.config) << c.name;
    EXPECT_EQ(layout.keyframe, c.keyframe) << c.name;
  }
}

TEST(Mp4vFrameLayout, ProfileLevelComesFromSequenceHeaderOrDefaultsToOne) {
  EXPECT_EQ(mp4v::ProfileLevel(kConfig), 3);
  EXPECT_EQ(mp4v::ProfileLevel(Bytes(kConfig.begin() + 5, kConfig.end())), 1);
  EXPECT_EQ(mp4v::ProfileLevel({}), 1);
}

TEST(Mp4vTimestamps, NanosecondsBecomeRounded90kHzTicks) {
  struct Case {
    std::uint64_t ns;
    std::uint32_t ticks;
  } cases[] = {
      {0, 0},
      {FrameTime(1), 3000},
      {FrameTime(2), 6000},
      {1'000'000'000, 90000},
      {11'111, 1},  // 0.99999 ticks rounds up
      {5'555, 0},   // 0.49999 ticks rounds down
      // 2^63 ns = 830103483316929.8 ticks, rounded and taken modulo 2^32, without overflow.
      {std::uint64_t(1) << 63, std::uint32_t(830103483316930 % (std::uint64_t(1) << 32))},
  };
  for (const Case& c : cases) EXPECT_EQ(mp4v::TicksFromNanoseconds(c.ns), c.ticks) << c.ns;
}

// Packetizer -------------------------------------------------------------------

TEST(Mp4vPacketizer, SplitsFramesAtMaxPayloadWithMarkerOnLastPacket) {
  for (const std::size_t size : {6u, 1399u, 1400u, 1401u, 2800u, 10'000u}) {
    mp4v::Packetizer packetizer(FixedSettings());
    const Bytes frame = Vop(false, size);
    const auto result = packetizer.Packetize(frame, 0);
    const std::size_t expected_packets = (size + mp4v::kMaxPayload - 1) / mp4v::kMaxPayload;
    ASSERT_EQ(result.packets.size(), expected_packets) << size;

    Bytes joined;
    for (std::size_t i = 0; i < result.packets.size(); ++i) {
      const auto& packet = result.packets[i];
      const bool last = i + 1 == result.packets.size();
      if (!last) {
        EXPECT_EQ(packet.PayloadSize(), mp4v::kMaxPayload) << size;
      }
      const auto view = ParseRtp(Datagram(packet));
      ASSERT_TRUE(view) << size;
      EXPECT_EQ(view->header.marker, last) << size << " packet " << i;
      EXPECT_EQ(view->header.payload_type, 96);
      EXPECT_EQ(view->header.ssrc, 0x11223344u);
      EXPECT_EQ(view->header.sequence, 100 + i);
      EXPECT_EQ(packet.header[0] >> 6, 2) << "RTP version";
      const Bytes payload = Payload(packet);
      joined.insert(joined.end(), payload.begin(), payload.end());
    }
    EXPECT_EQ(joined, frame) << size;
  }
}

TEST(Mp4vPacketizer, SequenceNumbersRunOnAcrossFramesAndWrap) {
  mp4v::Packetizer packetizer(FixedSettings(65534));
  std::vector<std::uint16_t> sequences;
  for (int i = 0; i < 3; ++i) {
    for (const auto& packet : packetizer.Packetize(Vop(false, 2000), FrameTime(i)).packets) {
      sequences.push_back(ParseRtp(Datagram(packet))->header.sequence);
    }
  }
  EXPECT_EQ(sequences, (std::vector<std::uint16_t>{65534, 65535, 0, 1, 2, 3}));
}

TEST(Mp4vPacketizer, TimestampIsCaptureTimeOn90kHzClock) {
  mp4v::Packetizer packetizer(FixedSettings());
  std::vector<std::uint32_t> stamps;
  for (int i = 0; i < 5; ++i) {
    const auto result = packetizer.Packetize(Vop(i == 0, 3000), FrameTime(i));
    for (const auto& packet : result.packets) {
      EXPECT_EQ(ParseRtp(Datagram(packet))->header.timestamp, result.timestamp);
    }
    stamps.push_back(result.timestamp);
  }
  EXPECT_EQ(stamps, (std::vector<std::uint32_t>{5000, 8000, 11000, 14000, 17000}));
}

TEST(Mp4vPacketizer, PutsLastConfigInFrontOfKeyframeThatLacksIt) {
  mp4v::Packetizer packetizer(FixedSettings());
  const Bytes first = Concat({kConfig, Vop(true, 500)});
  const Bytes predicted = Vop(false, 300);
  const Bytes bare_key = Concat({kGov, Vop(true, 2000, 3)});

  auto result = packetizer.Packetize(first, FrameTime(0));
  EXPECT_TRUE(result.keyframe);
  EXPECT_FALSE(result.config_inserted) << "the frame carries its config already";
  EXPECT_TRUE(result.config_changed);
  ASSERT_EQ(result.packets.size(), 1u);
  EXPECT_EQ(Payload(result.packets[0]), first) << "config not doubled";

  result = packetizer.Packetize(predicted, FrameTime(1));
  EXPECT_FALSE(result.config_inserted);
  EXPECT_EQ(Payload(result.packets[0]), predicted);

  result = packetizer.Packetize(bare_key, FrameTime(2));
  EXPECT_TRUE(result.config_inserted);
  EXPECT_FALSE(result.config_changed);
  Bytes joined;
  for (const auto& packet : result.packets) {
    const Bytes payload = Payload(packet);
    joined.insert(joined.end(), payload.begin(), payload.end());
  }
  EXPECT_EQ(joined, Concat({kConfig, bare_key}));
  // The first packet holds the whole config and the start of the frame, borrowed as they are.
  EXPECT_EQ(result.packets[0].payload[0].data(), packetizer.Config().data());
  EXPECT_EQ(result.packets[0].payload[1].data(), bare_key.data());
  EXPECT_EQ(result.packets[0].PayloadSize(), mp4v::kMaxPayload);
}

TEST(Mp4vPacketizer, ConfigFromCapsServesKeyframesBeforeTheStreamHasOne) {
  mp4v::Packetizer packetizer(FixedSettings());
  const Bytes key = Vop(true, 100);
  EXPECT_FALSE(packetizer.Packetize(key, 0).config_inserted) << "no config known yet";

  packetizer.SetConfig(kConfig);
  const auto result = packetizer.Packetize(key, FrameTime(1));
  EXPECT_TRUE(result.config_inserted);
  EXPECT_EQ(Payload(result.packets[0]), Concat({kConfig, key}));
}

TEST(Mp4vPacketizer, NewConfigInStreamReplacesTheOldOne) {
  mp4v::Packetizer packetizer(FixedSettings());
  packetizer.SetConfig(kConfig);
  Bytes other_config = kConfig;
  other_config[4] = 0x01;
  const auto result = packetizer.Packetize(Concat({other_config, Vop(true, 100)}), 0);
  EXPECT_TRUE(result.config_changed);
  EXPECT_EQ(Bytes(packetizer.Config().begin(), packetizer.Config().end()), other_config);
}

// Depacketizer -----------------------------------------------------------------

// Key with config, two predicted, a key without config (the packetizer adds it), predicted.
struct Stream {
  std::vector<Bytes> frames = {Concat({kConfig, Vop(true, 5000, 1)}), Vop(false, 3000, 2),
                               Vop(false, 2900, 3), Concat({kGov, Vop(true, 4500, 4)}),
                               Vop(false, 100, 5)};
  // What a receiver should hand on for each frame.
  std::vector<Bytes> on_the_wire = {frames[0], frames[1], frames[2],
                                    Concat({kConfig, frames[3]}), frames[4]};
  mp4v::Packetizer packetizer{FixedSettings(65530)};  // wraps inside the run
  std::vector<std::vector<Bytes>> datagrams = Packetize(&packetizer, frames);
};

TEST(Mp4vDepacketizer, ReassemblesFramesInOrder) {
  Stream stream;
  Receiver receiver;
  receiver.PushAll(stream.datagrams);
  EXPECT_EQ(receiver.Data(), stream.on_the_wire);
  ASSERT_EQ(receiver.frames.size(), 5u);
  EXPECT_TRUE(receiver.frames[0].discont);
  EXPECT_TRUE(receiver.frames[0].keyframe);
  EXPECT_TRUE(receiver.frames[0].has_config);
  EXPECT_FALSE(receiver.frames[1].discont);
  EXPECT_FALSE(receiver.frames[1].keyframe);
  EXPECT_EQ(receiver.frames[1].timestamp - receiver.frames[0].timestamp, 3000u);
  EXPECT_TRUE(receiver.frames[3].keyframe);

  const auto& c = receiver.counters();
  std::uint64_t packets = 0;
  std::uint64_t bytes = 0;
  for (const auto& frame : stream.datagrams) {
    packets += frame.size();
    for (const auto& d : frame) bytes += d.size();
  }
  EXPECT_EQ(c.packets, packets);
  EXPECT_EQ(c.bytes, bytes);
  EXPECT_EQ(c.frames, 5u);
  EXPECT_EQ(c.keyframes, 2u);
  EXPECT_EQ(c.lost, 0u);
  EXPECT_EQ(c.reordered, 0u);
  EXPECT_EQ(c.foreign, 0u);
  EXPECT_EQ(c.ssrc, 0x11223344u);
  EXPECT_EQ(c.last_packet, receiver.now);
}

TEST(Mp4vDepacketizer, FrameIsDeliveredWhenItsLastPacketArrives) {
  Stream stream;
  Receiver receiver;
  const auto& first = stream.datagrams[0];
  ASSERT_GE(first.size(), 3u);
  for (std::size_t i = 0; i + 1 < first.size(); ++i) receiver.Push(first[i]);
  EXPECT_TRUE(receiver.frames.empty());
  receiver.Push(first.back());
  EXPECT_EQ(receiver.frames.size(), 1u) << "no wait for the next frame";
}

TEST(Mp4vDepacketizer, LossShowsNothingUntilNextKeyframe) {
  Stream stream;
  Receiver receiver;
  auto datagrams = stream.datagrams;
  datagrams[1].erase(datagrams[1].begin() + 1);  // a packet in the middle of frame 1
  receiver.PushAll(datagrams);
  EXPECT_EQ(receiver.Data(), (std::vector<Bytes>{stream.on_the_wire[0], stream.on_the_wire[3],
                                                 stream.on_the_wire[4]}));
  EXPECT_TRUE(receiver.frames[1].discont);
  const auto& c = receiver.counters();
  EXPECT_EQ(c.lost, 1u);
  EXPECT_EQ(c.frames_skipped, 2u) << "the torn frame 1 and frame 2 that refers to it";
}

TEST(Mp4vDepacketizer, LossOfLastPacketOfFrameIsGivenUpAtTheNextWholeFrame) {
  Stream stream;
  Receiver receiver;
  auto datagrams = stream.datagrams;
  datagrams[2].pop_back();  // the marker packet of frame 2
  receiver.PushAll(datagrams);
  EXPECT_EQ(receiver.Data(), (std::vector<Bytes>{stream.on_the_wire[0], stream.on_the_wire[1],
                                                 stream.on_the_wire[3], stream.on_the_wire[4]}));
  EXPECT_EQ(receiver.counters().lost, 1u);
}

TEST(Mp4vDepacketizer, WholeFrameLostShowsNothingUntilNextKeyframe) {
  Stream stream;
  Receiver receiver;
  auto datagrams = stream.datagrams;
  const std::size_t lost = datagrams[1].size();
  datagrams[1].clear();
  receiver.PushAll(datagrams);
  EXPECT_EQ(receiver.Data(), (std::vector<Bytes>{stream.on_the_wire[0], stream.on_the_wire[3],
                                                 stream.on_the_wire[4]}));
  EXPECT_EQ(receiver.counters().lost, lost);
}

TEST(Mp4vDepacketizer, ReorderingWithinFrameIsRepaired) {
  Stream stream;
  Receiver receiver;
  auto datagrams = stream.datagrams;
  ASSERT_GE(datagrams[0].size(), 4u);
  std::swap(datagrams[0][1], datagrams[0][2]);           // one packet overtaken
  std::swap(datagrams[1].front(), datagrams[1].back());  // 2, 1, 0: marker packet first
  receiver.PushAll(datagrams);
  EXPECT_EQ(receiver.Data(), stream.on_the_wire);
  EXPECT_EQ(receiver.counters().reordered, 3u);
  EXPECT_EQ(receiver.counters().lost, 0u);
}

TEST(Mp4vDepacketizer, PacketLateBeyondItsFrameIsCountedAndDropped) {
  Stream stream;
  Receiver receiver;
  auto datagrams = stream.datagrams;
  const Bytes late = datagrams[1][0];
  datagrams[1].erase(datagrams[1].begin());
  datagrams[2].push_back(late);  // arrives after frame 2 was whole
  receiver.PushAll(datagrams);
  EXPECT_EQ(receiver.Data(), (std::vector<Bytes>{stream.on_the_wire[0], stream.on_the_wire[3],
                                                 stream.on_the_wire[4]}));
  const auto& c = receiver.counters();
  EXPECT_EQ(c.late, 1u);
  EXPECT_EQ(c.reordered, 1u);
  EXPECT_EQ(c.lost, 0u) << "it did arrive";
}

TEST(Mp4vDepacketizer, ReorderWindowWaitsForMissingPacketBeforeGivingUp) {
  for (const bool arrives_in_time : {true, false}) {
    Stream stream;
    Receiver receiver(milliseconds(20));
    auto datagrams = stream.datagrams;
    const Bytes held_back = datagrams[2][1];
    datagrams[2].erase(datagrams[2].begin() + 1);
    // Frames 0 to 2 and the keyframe 3 arrive; frame 3 is whole while 2 waits.
    for (int f = 0; f <= 3; ++f)
      for (const auto& d : datagrams[f]) receiver.Push(d);
    ASSERT_EQ(receiver.frames.size(), 2u);
    const auto deadline = receiver.depacketizer.NextDeadline();
    ASSERT_TRUE(deadline) << arrives_in_time;
    EXPECT_EQ(*deadline, receiver.now + milliseconds(20));

    receiver.depacketizer.Expire(receiver.now + milliseconds(19), &receiver.frames);
    EXPECT_EQ(receiver.frames.size(), 2u) << "the window has not passed";
    if (arrives_in_time) {
      receiver.Push(held_back);
      EXPECT_EQ(receiver.Data(),
                (std::vector<Bytes>(stream.on_the_wire.begin(), stream.on_the_wire.begin() + 4)));
    } else {
      receiver.depacketizer.Expire(*deadline, &receiver.frames);
      EXPECT_EQ(receiver.Data(), (std::vector<Bytes>{stream.on_the_wire[0], stream.on_the_wire[1],
                                                     stream.on_the_wire[3]}));
    }
    EXPECT_FALSE(receiver.depacketizer.NextDeadline());
  }
}

TEST(Mp4vDepacketizer, JoiningMidStreamWaitsForKeyframeWithConfig) {
  Stream stream;
  Receiver receiver;
  // Join in the middle of the first keyframe.
  for (std::size_t i = 2; i < stream.datagrams[0].size(); ++i) {
    receiver.Push(stream.datagrams[0][i]);
  }
  for (int f = 1; f < 5; ++f)
    for (const auto& d : stream.datagrams[f]) receiver.Push(d);
  EXPECT_EQ(receiver.Data(), (std::vector<Bytes>{stream.on_the_wire[3], stream.on_the_wire[4]}));
  EXPECT_TRUE(receiver.frames[0].discont);
  EXPECT_EQ(receiver.counters().frames_skipped, 3u);
}

TEST(Mp4vDepacketizer, KeyframeWithoutConfigDoesNotOpenTheStream) {
  mp4v::Packetizer packetizer(FixedSettings());  // knows no config: sends keys as they are
  const std::vector<Bytes> frames = {Vop(true, 2000), Vop(false, 100),
                                     Concat({kConfig, Vop(true, 2000)})};
  Receiver receiver;
  receiver.PushAll(Packetize(&packetizer, frames));
  EXPECT_EQ(receiver.Data(), (std::vector<Bytes>{frames[2]}));
}

TEST(Mp4vDepacketizer, RequireKeyframeHoldsBackUntilNextKeyframe) {
  Stream stream;
  Receiver receiver;
  for (const auto& d : stream.datagrams[0]) receiver.Push(d);
  receiver.depacketizer.RequireKeyframe();
  for (int f = 1; f < 5; ++f)
    for (const auto& d : stream.datagrams[f]) receiver.Push(d);
  EXPECT_EQ(receiver.Data(), (std::vector<Bytes>{stream.on_the_wire[0], stream.on_the_wire[3],
                                                 stream.on_the_wire[4]}));
}

TEST(Mp4vDepacketizer, FramesWithoutMarkerEndAtNextTimestamp) {
  Stream stream;
  Receiver receiver;
  for (auto& frame : stream.datagrams) frame.back()[1] &= 0x7F;  // clear every marker
  receiver.PushAll(stream.datagrams);
  // The last frame has no successor yet.
  EXPECT_EQ(receiver.Data(), (std::vector<Bytes>(stream.on_the_wire.begin(),
                                                 stream.on_the_wire.end() - 1)));
}

TEST(Mp4vDepacketizer, DuplicatesAreIgnored) {
  Stream stream;
  Receiver receiver;
  for (int f = 0; f < 5; ++f) {
    for (const auto& d : stream.datagrams[f]) {
      receiver.Push(d);
      receiver.Push(d);
    }
  }
  EXPECT_EQ(receiver.Data(), stream.on_the_wire);
  EXPECT_GE(receiver.counters().duplicates, 1u);
  EXPECT_EQ(receiver.counters().lost, 0u);
}

TEST(Mp4vDepacketizer, ForeignDatagramsAreDroppedAndCounted) {
  Stream stream;
  const Bytes good = stream.datagrams[1][0];
  auto with = [&](auto change) {
    Bytes d = good;
    change(d);
    return d;
  };
  const std::vector<Bytes> foreign = {
      Bytes(good.begin(), good.begin() + 11),                     // shorter than a header
      with([](Bytes& d) { d[0] = (d[0] & 0x3F) | 0x40; }),        // version 1
      with([](Bytes& d) { d[1] = (d[1] & 0x80) | 33; }),          // payload type 33
      with([](Bytes& d) { d[8] ^= 0xFF; }),                       // another source
      [&] {  // a CSRC list longer than the datagram
        Bytes d(good.begin(), good.begin() + 40);
        d[0] |= 0x0F;
        return d;
      }(),
      Bytes{'h', 'e', 'l', 'l', 'o', ' ', 'w', 'o', 'r', 'l', 'd', '!', '!'},
  };
  Receiver receiver;
  for (int f = 0; f < 5; ++f) {
    for (const auto& d : stream.datagrams[f]) {
      receiver.Push(d);
      if (f == 2)
        for (const auto& bad : foreign) receiver.Push(bad);
    }
  }
  EXPECT_EQ(receiver.Data(), stream.on_the_wire);
  EXPECT_EQ(receiver.counters().foreign, foreign.size() * stream.datagrams[2].size());
  EXPECT_EQ(receiver.counters().ssrc, 0x11223344u);
}

TEST(Mp4vDepacketizer, MovesToNewSourceOnlyAfterOldOneFellSilentForASecond) {
  Stream old_stream;
  mp4v::Packetizer::Settings settings = FixedSettings(7);
  settings.ssrc = 0xCAFE;
  mp4v::Packetizer new_packetizer(settings);
  const auto new_run = Packetize(&new_packetizer, old_stream.frames);

  Receiver receiver;
  for (const auto& d : old_stream.datagrams[0]) receiver.Push(d);
  for (const auto& d : new_run[0]) receiver.Push(d);  // at once: foreign
  EXPECT_EQ(receiver.counters().foreign, new_run[0].size());
  EXPECT_EQ(receiver.frames.size(), 1u);

  receiver.now += std::chrono::seconds(1);
  receiver.PushAll(new_run);
  EXPECT_EQ(receiver.counters().ssrc, 0xCAFEu);
  EXPECT_EQ(receiver.counters().source_changes, 1u);
  ASSERT_EQ(receiver.frames.size(), 6u);
  EXPECT_TRUE(receiver.frames[1].discont);
  EXPECT_EQ(receiver.frames[1].data, old_stream.on_the_wire[0]);
}

TEST(Mp4vDepacketizer, RestartedNumberingIsFollowedAfterTwoPackets) {
  Stream stream;
  Receiver receiver;
  receiver.PushAll(stream.datagrams);
  // The same source starts again far off in its numbering.
  mp4v::Packetizer restarted(FixedSettings(40000));
  receiver.PushAll(Packetize(&restarted, stream.frames));
  // The first packet of the restart is taken as a stray; its keyframe is lost,
  // the next keyframe opens the stream again.
  EXPECT_EQ(receiver.frames.size(), 5u + 2u);
  EXPECT_EQ(receiver.frames[5].data, stream.on_the_wire[3]);
}

TEST(Mp4vDepacketizer, JitterFollowsRfc3550OnKnownArrivals) {
  // One packet per frame at 25 frames a second (3600 ticks apart); every other
  // packet is 10 ms (900 ticks) late, so each transit differs by 900 from the last.
  mp4v::Packetizer packetizer(FixedSettings());
  mp4v::Depacketizer depacketizer;
  std::vector<mp4v::ReceivedFrame> frames;
  const int count = 20;
  for (int i = 0; i < count; ++i) {
    const auto result = packetizer.Packetize(Vop(i % 10 == 0, 200), std::uint64_t(i) * 40'000'000);
    ASSERT_EQ(result.packets.size(), 1u);
    const Clock::time_point arrival{milliseconds(1000 + 40 * i + (i % 2 ? 10 : 0))};
    depacketizer.Push(Datagram(result.packets[0]), arrival, &frames);
  }
  const double expected = 900.0 * (1.0 - std::pow(15.0 / 16.0, count - 1));
  EXPECT_NEAR(depacketizer.Counters().jitter, expected, 1e-6);
}

TEST(Mp4vDepacketizer, ResetForgetsSourceButKeepsCounting) {
  Stream stream;
  Receiver receiver;
  receiver.PushAll(stream.datagrams);
  receiver.depacketizer.Reset();
  EXPECT_FALSE(receiver.counters().ssrc);
  mp4v::Packetizer::Settings settings = FixedSettings(3);
  settings.ssrc = 0xBEEF;
  mp4v::Packetizer other(settings);
  receiver.PushAll(Packetize(&other, stream.frames));  // no second of silence needed
  EXPECT_EQ(receiver.counters().ssrc, 0xBEEFu);
  EXPECT_EQ(receiver.counters().frames, 10u);
  EXPECT_EQ(receiver.counters().foreign, 0u);
}

}  // namespace
