#include "filters/rtp_mp4v.h"

#include <algorithm>
#include <cstdlib>
#include <random>

namespace mp4v {
namespace {

constexpr std::size_t kNone = static_cast<std::size_t>(-1);

// Video object (0x00-0x1F) and video object layer (0x20-0x2F) start codes.
bool IsConfigCode(std::uint8_t code) {
  return code <= 0x2F || code == kVisualObjectSequenceCode || code == kVisualObjectCode;
}
bool IsVideoObjectLayerCode(std::uint8_t code) { return code >= 0x20 && code <= 0x2F; }

// Offset of the next 00 00 01 xx at or after `from` (with its code byte), or the size.
std::size_t NextStartCode(std::span<const std::uint8_t> data, std::size_t from) {
  for (std::size_t i = from; i + 3 < data.size(); ++i) {
    if (data[i + 2] > 1) {
      i += 2;  // none of the next two positions can start a prefix
      continue;
    }
    if (data[i] == 0 && data[i + 1] == 0 && data[i + 2] == 1) return i;
  }
  return data.size();
}

// A payload that opens with a start code only a frame begins with.
bool StartsWithFrameHeader(std::span<const std::uint8_t> payload) {
  if (payload.size() < 4 || payload[0] != 0 || payload[1] != 0 || payload[2] != 1) return false;
  const std::uint8_t code = payload[3];
  return IsConfigCode(code) || code == kGroupOfVopCode || code == kVopCode;
}

}  // namespace

FrameLayout ReadFrameLayout(std::span<const std::uint8_t> frame) {
  FrameLayout layout;
  std::size_t config_begin = kNone;
  std::size_t config_end = kNone;
  bool has_layer = false;
  for (std::size_t i = NextStartCode(frame, 0); i < frame.size(); i = NextStartCode(frame, i + 3)) {
    const std::uint8_t code = frame[i + 3];
    if (code == kVopCode || code == kGroupOfVopCode) {
      if (config_begin != kNone && config_end == kNone) config_end = i;
      if (code == kVopCode) {
        layout.has_vop = true;
        // vop_coding_type, the first two bits after the start code: 0 is intra.
        layout.keyframe = i + 4 < frame.size() && (frame[i + 4] >> 6) == 0;
        break;
      }
      continue;
    }
    if (config_end != kNone) continue;
    if (IsConfigCode(code) && config_begin == kNone) config_begin = i;
    if (IsVideoObjectLayerCode(code) && config_begin != kNone) has_layer = true;
  }
  if (config_begin != kNone && config_end == kNone) config_end = frame.size();
  if (has_layer) layout.config = frame.subspan(config_begin, config_end - config_begin);
  return layout;
}

int ProfileLevel(std::span<const std::uint8_t> config) {
  if (config.size() >= 5 && config[0] == 0 && config[1] == 0 && config[2] == 1 &&
      config[3] == kVisualObjectSequenceCode && config[4] != 0) {
    return config[4];
  }
  return 1;
}

std::uint32_t TicksFromNanoseconds(std::uint64_t nanoseconds) {
  // Split so that nothing overflows for any 64-bit time.
  const std::uint64_t seconds = nanoseconds / 1'000'000'000;
  const std::uint64_t rest = nanoseconds % 1'000'000'000;
  return static_cast<std::uint32_t>(seconds * kClockRate + (rest * 9 + 50'000) / 100'000);
}

// Packetizer -------------------------------------------------------------------

Packetizer::Settings Packetizer::RandomSettings() {
  std::random_device device;
  std::mt19937 random(device());
  Settings settings;
  settings.ssrc = static_cast<std::uint32_t>(random());
  settings.first_sequence = static_cast<std::uint16_t>(random());
  settings.timestamp_offset = static_cast<std::uint32_t>(random());
  return settings;
}

Packetizer::Packetizer(Settings settings)
    : settings_(settings), next_sequence_(settings.first_sequence) {
  if (settings_.max_payload == 0) settings_.max_payload = kMaxPayload;
}

void Packetizer::SetConfig(std::span<const std::uint8_t> config) {
  const FrameLayout layout = ReadFrameLayout(config);
  if (!layout.config.empty()) StoreConfig(layout.config);
}

bool Packetizer::StoreConfig(std::span<const std::uint8_t> config) {
  if (std::ranges::equal(config, config_)) return false;
  config_.assign(config.begin(), config.end());
  return true;
}

Packetizer::Result Packetizer::Packetize(std::span<const std::uint8_t> frame,
                                         std::uint64_t capture_time_ns) {
  packets_.clear();
  Result result;
  result.timestamp = settings_.timestamp_offset + TicksFromNanoseconds(capture_time_ns);
  if (frame.empty()) return result;

  const FrameLayout layout = ReadFrameLayout(frame);
  result.keyframe = layout.keyframe;
  std::span<const std::uint8_t> prefix;
  if (!layout.config.empty()) {
    result.config_changed = StoreConfig(layout.config);
  } else if (layout.keyframe && !config_.empty()) {
    // A decoder that joins at this keyframe needs the config with it.
    prefix = config_;
    result.config_inserted = true;
  }

  const std::size_t total = prefix.size() + frame.size();
  for (std::size_t pos = 0; pos < total;) {
    const std::size_t size = std::min(settings_.max_payload, total - pos);
    const std::size_t end = pos + size;
    OutgoingPacket packet;
    std::size_t piece = 0;
    if (pos < prefix.size()) {
      packet.payload[piece++] = prefix.subspan(pos, std::min(end, prefix.size()) - pos);
    }
    if (end > prefix.size()) {
      const std::size_t from = std::max(pos, prefix.size()) - prefix.size();
      packet.payload[piece] = frame.subspan(from, end - prefix.size() - from);
    }
    RtpHeader header;
    header.marker = end == total;
    header.payload_type = kPayloadType;
    header.sequence = next_sequence_++;
    header.timestamp = result.timestamp;
    header.ssrc = settings_.ssrc;
    packet.header = WriteRtpHeader(header);
    packets_.push_back(packet);
    pos = end;
  }
  result.packets = packets_;
  return result;
}

// Depacketizer -----------------------------------------------------------------

namespace {
// Extended numbers start one cycle up, so that a packet older than the first
// one heard still has a number.
constexpr std::uint64_t kFirstCycle = 1u << 16;
}  // namespace

Depacketizer::Depacketizer(std::chrono::milliseconds reorder_window)
    : reorder_window_(reorder_window), ring_(kRingSize) {}

bool Depacketizer::Held(std::uint64_t seq) const {
  const Slot& slot = SlotFor(seq);
  return slot.seq == seq && slot.state == SlotState::kHeld;
}

bool Depacketizer::Known(std::uint64_t seq) const {
  const Slot& slot = SlotFor(seq);
  return slot.seq == seq && slot.state != SlotState::kEmpty;
}

// Whether the held packet `seq` is the first of its frame: the packet before it
// ended a frame or has another timestamp; with that one unknown, the payload
// opens with a start code that only a frame begins with.
bool Depacketizer::IsFrameStart(std::uint64_t seq) const {
  const Slot& slot = SlotFor(seq);
  if (Known(seq - 1)) {
    const Slot& previous = SlotFor(seq - 1);
    return previous.marker || previous.timestamp != slot.timestamp;
  }
  return slot.starts_with_header;
}

// The last packet of the frame that starts at `start`, when every packet of it is here.
std::optional<std::uint64_t> Depacketizer::FrameEnd(std::uint64_t start) const {
  const std::uint32_t timestamp = SlotFor(start).timestamp;
  for (std::uint64_t seq = start; seq <= highest_ && seq < start + kRingSize; ++seq) {
    if (!Held(seq)) return std::nullopt;
    const Slot& slot = SlotFor(seq);
    // A new timestamp ends the frame even where the marker was left off.
    if (slot.timestamp != timestamp) return seq - 1;
    if (slot.marker) return seq;
  }
  return std::nullopt;
}

std::optional<std::uint64_t> Depacketizer::NextWholeFrame(std::uint64_t from) const {
  for (std::uint64_t seq = from; seq <= highest_; ++seq) {
    if (Held(seq) && IsFrameStart(seq) && FrameEnd(seq)) return seq;
  }
  return std::nullopt;
}

void Depacketizer::Lock(std::uint32_t ssrc) {
  if (locked_) ++counters_.source_changes;
  CloseSequenceEpoch();
  locked_ = true;
  counters_.ssrc = ssrc;
  have_transit_ = false;
  counters_.jitter = 0;
}

void Depacketizer::StartSequence(std::uint64_t ext) {
  for (Slot& slot : ring_) slot.state = SlotState::kEmpty;
  sequence_started_ = true;
  highest_ = ext;
  epoch_base_ = ext;
  epoch_received_ = 0;
  next_ = ext;
  start_known_ = false;
  waiting_for_keyframe_ = true;
  held_since_.reset();
  probation_.reset();
}

void Depacketizer::CloseSequenceEpoch() {
  if (!sequence_started_) return;
  const std::uint64_t expected = highest_ - epoch_base_ + 1;
  if (expected > epoch_received_) lost_before_ += expected - epoch_received_;
  sequence_started_ = false;
  counters_.lost = lost_before_;
}

void Depacketizer::Reset() {
  CloseSequenceEpoch();
  locked_ = false;
  counters_.ssrc.reset();
  have_transit_ = false;
  waiting_for_keyframe_ = true;
  held_since_.reset();
  probation_.reset();
}

void Depacketizer::UpdateJitter(std::uint32_t timestamp, Clock::time_point arrival) {
  const auto ns = static_cast<std::uint64_t>(
      std::chrono::duration_cast<std::chrono::nanoseconds>(arrival.time_since_epoch()).count());
  const std::uint32_t arrival_ticks =
      static_cast<std::uint32_t>(ns / 100'000 * 9 + (ns % 100'000) * 9 / 100'000);
  const std::uint32_t transit = arrival_ticks - timestamp;
  if (have_transit_) {
    const auto d = static_cast<std::int32_t>(transit - last_transit_);
    counters_.jitter += (std::abs(static_cast<double>(d)) - counters_.jitter) / 16.0;
  }
  last_transit_ = transit;
  have_transit_ = true;
}

void Depacketizer::Push(std::span<const std::uint8_t> datagram, Clock::time_point arrival,
                        std::vector<ReceivedFrame>* out) {
  const auto packet = ParseRtp(datagram);
  if (!packet || packet->header.payload_type != kPayloadType) {
    ++counters_.foreign;
    return;
  }
  const RtpHeader& header = packet->header;
  if (!locked_) {
    Lock(header.ssrc);
  } else if (header.ssrc != *counters_.ssrc) {
    if (arrival - last_from_source_ < kSourceSilence) {
      ++counters_.foreign;
      return;
    }
    Lock(header.ssrc);
  }
  last_from_source_ = arrival;
  ++counters_.packets;
  counters_.bytes += datagram.size();
  counters_.last_packet = arrival;

  std::uint64_t ext = 0;
  if (!sequence_started_) {
    ext = kFirstCycle + header.sequence;
    StartSequence(ext);
  } else {
    const auto delta =
        static_cast<std::int16_t>(static_cast<std::uint16_t>(header.sequence - highest_));
    ext = highest_ + static_cast<std::uint64_t>(static_cast<std::int64_t>(delta));
    if (delta > static_cast<std::int64_t>(kRingSize) ||
        delta < -static_cast<std::int64_t>(kRingSize)) {
      // The numbering jumped further than any loss or reordering we bridge: a
      // restarted sender. Believe it when the next packet follows on.
      if (probation_ != header.sequence) {
        probation_ = static_cast<std::uint16_t>(header.sequence + 1);
        return;
      }
      CloseSequenceEpoch();
      ext = kFirstCycle + header.sequence;
      StartSequence(ext);
    }
  }
  probation_.reset();

  if (ext < next_) {
    // Its frame was delivered or given up already.
    if (Known(ext)) {
      ++counters_.duplicates;
    } else {
      ++counters_.reordered;
      ++counters_.late;
      ++epoch_received_;
    }
    return;
  }
  if (Held(ext)) {
    ++counters_.duplicates;
    return;
  }
  ++epoch_received_;
  UpdateJitter(header.timestamp, arrival);
  if (ext < highest_) {
    ++counters_.reordered;
  } else {
    highest_ = ext;
  }
  const std::uint64_t expected = highest_ - epoch_base_ + 1;
  counters_.lost = lost_before_ + (expected > epoch_received_ ? expected - epoch_received_ : 0);

  if (ext >= next_ + kRingSize) {
    // More is missing than the ring spans: give up all that waits.
    Discard(next_, next_ + kRingSize);
    next_ = ext;
    start_known_ = false;
  }
  Slot& slot = SlotFor(ext);
  slot.seq = ext;
  slot.state = SlotState::kHeld;
  slot.marker = header.marker;
  slot.timestamp = header.timestamp;
  slot.starts_with_header = StartsWithFrameHeader(packet->payload);
  slot.payload.assign(packet->payload.begin(), packet->payload.end());

  Assemble(arrival, out);
}

void Depacketizer::Expire(Clock::time_point now, std::vector<ReceivedFrame>* out) {
  Assemble(now, out);
}

std::optional<Depacketizer::Clock::time_point> Depacketizer::NextDeadline() const {
  if (!held_since_ || reorder_window_.count() <= 0) return std::nullopt;
  return *held_since_ + reorder_window_;
}

void Depacketizer::Assemble(Clock::time_point now, std::vector<ReceivedFrame>* out) {
  while (sequence_started_ && next_ <= highest_) {
    if (!start_known_) {
      std::optional<std::uint64_t> start;
      for (std::uint64_t seq = next_; seq <= highest_; ++seq) {
        if (Held(seq) && IsFrameStart(seq)) {
          start = seq;
          break;
        }
      }
      if (!start) return;
      // What comes before the first frame start belongs to a frame we joined halfway.
      if (*start > next_) Discard(next_, *start);
      next_ = *start;
      start_known_ = true;
    }
    if (Held(next_)) {
      if (const auto end = FrameEnd(next_)) {
        Deliver(next_, *end, now, out);
        continue;
      }
    }
    // The first frame is not whole. Give it up only once a later frame is whole
    // and has waited out the reorder window.
    const auto later = NextWholeFrame(next_ + 1);
    if (!later) {
      held_since_.reset();
      return;
    }
    if (!held_since_) held_since_ = now;
    if (now - *held_since_ < reorder_window_) return;
    Discard(next_, *later);
    next_ = *later;
    held_since_.reset();
  }
}

void Depacketizer::Deliver(std::uint64_t start, std::uint64_t end, Clock::time_point now,
                           std::vector<ReceivedFrame>* out) {
  ReceivedFrame frame;
  std::size_t size = 0;
  for (std::uint64_t seq = start; seq <= end; ++seq) size += SlotFor(seq).payload.size();
  frame.data.reserve(size);
  for (std::uint64_t seq = start; seq <= end; ++seq) {
    Slot& slot = SlotFor(seq);
    frame.data.insert(frame.data.end(), slot.payload.begin(), slot.payload.end());
    slot.payload.clear();
    slot.state = SlotState::kDone;
  }
  frame.timestamp = SlotFor(start).timestamp;
  frame.arrival = now;
  next_ = end + 1;
  start_known_ = true;
  held_since_.reset();

  const FrameLayout layout = ReadFrameLayout(frame.data);
  frame.keyframe = layout.keyframe;
  frame.has_config = !layout.config.empty();
  if (waiting_for_keyframe_) {
    if (!frame.keyframe || !frame.has_config) {
      ++counters_.frames_skipped;
      return;
    }
    waiting_for_keyframe_ = false;
    frame.discont = true;
  }
  ++counters_.frames;
  if (frame.keyframe) ++counters_.keyframes;
  out->push_back(std::move(frame));
}

// Gives up [from, to): a frame was torn or lost, so the ones after it wait for a keyframe.
void Depacketizer::Discard(std::uint64_t from, std::uint64_t to) {
  bool torn = false;
  for (std::uint64_t seq = from; seq < to; ++seq) {
    if (!Held(seq)) continue;
    Slot& slot = SlotFor(seq);
    slot.payload.clear();
    slot.state = SlotState::kDone;
    torn = true;
  }
  if (torn) ++counters_.frames_skipped;
  waiting_for_keyframe_ = true;
}

}  // namespace mp4v
