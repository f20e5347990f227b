#pragma once

#include <chrono>
#include <cstdint>
#include <span>
#include <vector>

#include "net/endpoint.h"

// A plain UDP socket on the link's group, as another host's receiver or sender
// would have. Only for tests that run inside the private network namespace.
class GroupSocket {
 public:
  using Datagram = std::vector<std::uint8_t>;

  // Tag for a socket that only sends: not bound, not in the group.
  struct SendOnly {};

  // In the group, bound to `port` on every address. It hears only the groups it
  // joined, not every group some other socket of the host joined.
  explicit GroupSocket(std::uint16_t port = net::kPort);
  explicit GroupSocket(SendOnly);
  ~GroupSocket();
  GroupSocket(const GroupSocket&) = delete;
  GroupSocket& operator=(const GroupSocket&) = delete;

  // Whether the socket is open (and, unless send-only, bound and in the group).
  bool Ready() const { return ready_; }

  // Every datagram waiting now (loopback delivers while the sender sends).
  std::vector<Datagram> Take();

  // One datagram, or an empty one when none came within `wait`.
  Datagram Receive(std::chrono::milliseconds wait);

  // One datagram to the group at `port` (bounded: one call, one datagram).
  bool Send(std::span<const std::uint8_t> datagram, std::uint16_t port = net::kPort);

 private:
  int fd_ = -1;
  bool ready_ = false;
};
