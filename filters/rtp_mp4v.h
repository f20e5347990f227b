#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include "filters/rtp_packet.h"

// MPEG-4 Part 2 video elementary stream over RTP (RFC 3016, MP4V-ES): the
// packetizer the sender uses and the reassembler the receiver uses.
//
// One frame of the stream is one VOP, possibly led by the configuration headers
// (visual object sequence, visual object, video object, video object layer) and
// a GOV header. A frame goes out as consecutive packets that share its
// timestamp; the last one carries the marker bit.

namespace mp4v {

inline constexpr std::uint8_t kPayloadType = 96;
inline constexpr std::uint32_t kClockRate = 90000;
inline constexpr std::size_t kMaxPayload = 1400;

// Start codes are 00 00 01 followed by one of these.
inline constexpr std::uint8_t kVisualObjectSequenceCode = 0xB0;
inline constexpr std::uint8_t kGroupOfVopCode = 0xB3;
inline constexpr std::uint8_t kVisualObjectCode = 0xB5;
inline constexpr std::uint8_t kVopCode = 0xB6;

// What the start of a frame holds.
struct FrameLayout {
  // The configuration headers: from the first visual object sequence, visual
  // object, video object or video object layer start code up to the GOV or VOP
  // that follows. Empty when the frame has none, or has no video object layer
  // among them (a decoder cannot start from that).
  std::span<const std::uint8_t> config;
  bool has_vop = false;
  // The first VOP is intra-coded.
  bool keyframe = false;
};

FrameLayout ReadFrameLayout(std::span<const std::uint8_t> frame);

// profile_and_level_indication of the visual object sequence header that leads
// `config`, or 1 (the default of MP4V-ES) when there is none.
int ProfileLevel(std::span<const std::uint8_t> config);

// 90 kHz ticks of a time in nanoseconds, rounded to the nearest tick, modulo 2^32.
std::uint32_t TicksFromNanoseconds(std::uint64_t nanoseconds);

// One packet on its way out: the header, and the payload as up to two borrowed
// pieces (a packet that straddles an inserted config and the frame has two), so
// that the sender can hand them to sendmsg as they are.
struct OutgoingPacket {
  RtpHeaderBytes header{};
  std::span<const std::uint8_t> payload[2];

  std::size_t PayloadSize() const { return payload[0].size() + payload[1].size(); }
};

class Packetizer {
 public:
  struct Settings {
    std::uint32_t ssrc = 0;
    std::uint16_t first_sequence = 0;
    // Added to every timestamp (RFC 3550 wants a random start).
    std::uint32_t timestamp_offset = 0;
    std::size_t max_payload = kMaxPayload;
  };
  // Random SSRC, first sequence number and timestamp offset.
  static Settings RandomSettings();

  explicit Packetizer(Settings settings);

  // A config known from outside the stream (the caps' codec_data). A config read
  // from the stream itself replaces it.
  void SetConfig(std::span<const std::uint8_t> config);
  // The config put in front of keyframes that lack it; empty while none is known.
  std::span<const std::uint8_t> Config() const { return config_; }

  struct Result {
    // Valid until the next call; they borrow from the frame and from this object.
    std::span<const OutgoingPacket> packets;
    std::uint32_t timestamp = 0;
    bool keyframe = false;
    // The config was put in front of this keyframe.
    bool config_inserted = false;
    // The config differs from the one before (a new or first config).
    bool config_changed = false;
  };

  // Splits one frame, captured at `capture_time_ns`, into packets.
  Result Packetize(std::span<const std::uint8_t> frame, std::uint64_t capture_time_ns);

  const Settings& settings() const { return settings_; }

 private:
  bool StoreConfig(std::span<const std::uint8_t> config);

  Settings settings_;
  std::uint16_t next_sequence_;
  std::vector<std::uint8_t> config_;
  std::vector<OutgoingPacket> packets_;
};

// A frame put back together by the Depacketizer.
struct ReceivedFrame {
  std::vector<std::uint8_t> data;
  std::uint32_t timestamp = 0;
  bool keyframe = false;
  bool has_config = false;
  // The first frame after joining, a loss or a new source.
  bool discont = false;
  std::chrono::steady_clock::time_point arrival;  // of its last packet
};

struct RtpReceiveCounters {
  std::uint64_t packets = 0;     // datagrams of the stream we follow
  std::uint64_t bytes = 0;       // their size, RTP headers included
  std::uint64_t lost = 0;        // expected minus received (RFC 3550), never below 0
  std::uint64_t reordered = 0;   // arrived after a packet with a higher number
  std::uint64_t late = 0;        // of those, arrived after their frame was given up
  std::uint64_t duplicates = 0;
  std::uint64_t foreign = 0;     // datagrams that are not the stream: dropped
  std::uint64_t frames = 0;      // frames delivered
  std::uint64_t keyframes = 0;   // keyframes delivered
  std::uint64_t frames_skipped = 0;  // torn, or whole but waiting for a keyframe
  std::uint64_t source_changes = 0;  // locked on to a new SSRC after the first
  double jitter = 0;  // interarrival jitter (RFC 3550, 6.4.1) in 90 kHz ticks
  std::optional<std::chrono::steady_clock::time_point> last_packet;
  std::optional<std::uint32_t> ssrc;  // the source followed
};

// Takes the datagrams of one RTP stream of MP4V-ES and gives back whole frames.
//
// Datagrams that are not RTP version 2, carry another payload type or come from
// another source than the one it locked on to are dropped and counted. It locks
// on to the first source it hears and moves to another one only after the
// first has been silent for a second.
//
// A frame is delivered the moment its last missing packet arrives; packets may
// come in any order within the reorder window. A frame with a packet missing is
// given up when a later frame is whole and the window (0 by default: at once)
// has passed. After joining, after giving up a frame and after RequireKeyframe(),
// nothing is delivered until a keyframe that carries its config, so that a
// decoder never sees a picture that refers to what it has not got.
class Depacketizer {
 public:
  using Clock = std::chrono::steady_clock;
  static constexpr std::chrono::seconds kSourceSilence{1};

  explicit Depacketizer(std::chrono::milliseconds reorder_window = {});

  void SetReorderWindow(std::chrono::milliseconds window) { reorder_window_ = window; }

  // One datagram that arrived at `arrival`; frames it completes go to `out`.
  void Push(std::span<const std::uint8_t> datagram, Clock::time_point arrival,
            std::vector<ReceivedFrame>* out);
  // Gives up what has waited out the reorder window; frames held behind it go to `out`.
  void Expire(Clock::time_point now, std::vector<ReceivedFrame>* out);
  // When Expire has something to do, if ever.
  std::optional<Clock::time_point> NextDeadline() const;

  // The frames after this one cannot be decoded (one was dropped downstream).
  void RequireKeyframe() { waiting_for_keyframe_ = true; }
  // Forgets the stream, as for a new endpoint. The counters go on.
  void Reset();

  const RtpReceiveCounters& Counters() const { return counters_; }

 private:
  enum class SlotState : std::uint8_t { kEmpty, kHeld, kDone };
  struct Slot {
    std::uint64_t seq = 0;  // extended sequence number
    SlotState state = SlotState::kEmpty;
    bool marker = false;
    std::uint32_t timestamp = 0;
    bool starts_with_header = false;  // payload begins with a frame-leading start code
    std::vector<std::uint8_t> payload;
  };
  static constexpr std::uint64_t kRingSize = 2048;

  Slot& SlotFor(std::uint64_t seq) { return ring_[seq % kRingSize]; }
  const Slot& SlotFor(std::uint64_t seq) const { return ring_[seq % kRingSize]; }
  bool Held(std::uint64_t seq) const;
  bool Known(std::uint64_t seq) const;
  bool IsFrameStart(std::uint64_t seq) const;
  std::optional<std::uint64_t> FrameEnd(std::uint64_t start) const;
  std::optional<std::uint64_t> NextWholeFrame(std::uint64_t from) const;

  void Lock(std::uint32_t ssrc);
  void StartSequence(std::uint64_t ext);
  void CloseSequenceEpoch();
  void UpdateJitter(std::uint32_t timestamp, Clock::time_point arrival);
  void Assemble(Clock::time_point now, std::vector<ReceivedFrame>* out);
  void Deliver(std::uint64_t start, std::uint64_t end, Clock::time_point now,
               std::vector<ReceivedFrame>* out);
  void Discard(std::uint64_t from, std::uint64_t to);

  std::chrono::milliseconds reorder_window_;
  RtpReceiveCounters counters_;

  // The source and its sequence numbers.
  bool locked_ = false;
  Clock::time_point last_from_source_;
  bool sequence_started_ = false;
  std::uint64_t highest_ = 0;      // highest extended sequence number seen
  std::uint64_t epoch_base_ = 0;   // first extended number of this run of numbers
  std::uint64_t epoch_received_ = 0;
  std::uint64_t lost_before_ = 0;  // lost in earlier runs (other sources, restarts)
  std::optional<std::uint16_t> probation_;  // a restart is believed on this number

  // Jitter state (RFC 3550, A.8).
  bool have_transit_ = false;
  std::uint32_t last_transit_ = 0;

  // Reassembly.
  std::vector<Slot> ring_;
  std::uint64_t next_ = 0;        // first number not yet delivered or given up
  bool start_known_ = false;      // next_ is the first packet of a frame
  bool waiting_for_keyframe_ = true;
  std::optional<Clock::time_point> held_since_;  // a whole frame waits behind a gap
};

}  // namespace mp4v
