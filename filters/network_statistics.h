#pragma once

#include <cstdint>

#include "platform/com/unknown.h"

// What the network sender and receiver can tell about their stream, for their
// configuration pages and for tests. Counts run from the moment the graph last
// started (the filter went from stopped to paused); the endpoint fields are the
// filter's own and survive a stop.
struct NetworkStatistics {
  enum class Role : std::uint32_t { kSender = 1, kReceiver = 2 };
  Role role = Role::kSender;

  // The endpoint the filter holds: address in network byte order (as inet_addr
  // gives it), port in host order; all zero without one.
  bool has_endpoint = false;
  std::uint32_t address = 0;
  std::uint16_t port = 0;
  std::uint32_t parameter = 0;  // the last SetParameter value

  // Both filters. Bytes are whole RTP datagrams (header and payload).
  std::uint64_t packets = 0;
  std::uint64_t bytes = 0;
  std::uint64_t frames = 0;     // sent / handed downstream
  std::uint64_t keyframes = 0;
  double seconds_running = 0;   // since the graph started playing
  double bit_rate = 0;          // bits per second, averaged since then
  double frames_per_second = 0;

  // Sender.
  std::uint64_t send_errors = 0;      // datagrams the system refused
  std::uint64_t configs_inserted = 0; // keyframes that got the config put in front
  std::uint64_t frames_without_endpoint = 0;  // arrived while there was none: not sent
  bool config_known = false;          // it has a config to describe the stream with
  std::uint32_t ssrc = 0;             // of the stream sent, or of the stream followed

  // Receiver.
  bool listening = false;       // its socket is open (and in the group, for a group)
  std::uint64_t lost = 0;       // expected minus received (RFC 3550)
  std::uint64_t reordered = 0;
  std::uint64_t late = 0;       // reordered beyond use: their frame was given up
  std::uint64_t duplicates = 0;
  std::uint64_t foreign_dropped = 0;  // datagrams that were not the stream
  std::uint64_t frames_skipped = 0;   // torn, or waiting for a keyframe after a loss
  std::uint64_t frames_dropped = 0;   // whole, but downstream had no room for them
  double jitter_ms = 0;               // RFC 3550 interarrival jitter
  double seconds_since_last_packet = -1;  // -1: none yet
  std::uint32_t receive_buffer_requested = 0;  // bytes asked of the kernel
  std::uint32_t receive_buffer_granted = 0;    // bytes it gave (less: a burst may be lost)
};

struct INetworkStatistics : IUnknown {
  static constexpr IID iid = MakeGuid("{1A81B873-AD78-432D-B4EE-EDDDF786054F}");
  virtual HRESULT GetStatistics(NetworkStatistics* statistics) = 0;
};
