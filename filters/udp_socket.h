#pragma once

#include <netinet/in.h>
#include <sys/socket.h>

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <utility>
#include <vector>

#include "filters/rtp_mp4v.h"

// The sockets of the network filters: an endpoint as INetEndpointConfig hands it
// over, a sending socket that takes packets as borrowed pieces, a receiving
// socket that joins a group, and an event that wakes a thread out of poll().

struct UdpEndpoint {
  std::uint32_t address = 0;  // network byte order, as inet_addr gives it
  std::uint16_t port = 0;     // host order

  bool IsMulticast() const;
  std::string AddressText() const;  // dotted
  sockaddr_in SocketAddress() const;

  friend bool operator==(const UdpEndpoint&, const UdpEndpoint&) = default;
};

// The two 32-bit arguments of SetEndpoint as they lie in memory: the address's
// four bytes in network order, and the port's two bytes in network order
// followed by two zero bytes.
UdpEndpoint EndpointFromArguments(std::uint32_t address, std::uint32_t port);
void EndpointToArguments(const UdpEndpoint& endpoint, std::uint32_t* address, std::uint32_t* port);

// The index of the network interface called `name` ("lo", "eth0"); 0 when the
// machine has none by that name (or the name is empty).
unsigned InterfaceIndex(const std::string& name);

// Owns a file descriptor.
class UniqueFd {
 public:
  UniqueFd() = default;
  explicit UniqueFd(int fd) : fd_(fd) {}
  UniqueFd(UniqueFd&& other) noexcept : fd_(std::exchange(other.fd_, -1)) {}
  UniqueFd& operator=(UniqueFd&& other) noexcept {
    UniqueFd(std::move(other)).Swap(*this);
    return *this;
  }
  ~UniqueFd() { Reset(); }

  int get() const { return fd_; }
  explicit operator bool() const { return fd_ >= 0; }
  void Reset();
  void Swap(UniqueFd& other) noexcept { std::swap(fd_, other.fd_); }

 private:
  int fd_ = -1;
};

// Sends RTP packets, one datagram each, from the caller's thread.
class UdpSender {
 public:
  UdpSender();  // opens the socket; ok() says whether that worked
  bool ok() const { return static_cast<bool>(fd_); }
  // Multicast time-to-live and loopback; false with errno set when refused.
  bool SetMulticastOptions(int ttl, bool loopback);
  // The interface datagrams to a group leave by; 0: the one the routing table
  // picks. False with errno set when refused.
  bool SetMulticastInterface(unsigned interface_index);
  // Sends every packet to `to` with as few system calls as it can, copying
  // nothing. Returns how many the system refused (they are not retried: a stream
  // goes on with its next packet).
  std::size_t Send(std::span<const mp4v::OutgoingPacket> packets, const sockaddr_in& to);
  int last_error() const { return last_error_; }

 private:
  UniqueFd fd_;
  std::vector<mmsghdr> messages_;
  std::vector<iovec> pieces_;
  int last_error_ = 0;
};

// A non-blocking socket bound to a port on any address, in the group when the
// endpoint is one: on the interface given by its index, or with 0 on the one the
// routing table picks.
class UdpReceiveSocket {
 public:
  static constexpr int kDefaultBuffer = 2 * 1024 * 1024;

  UdpReceiveSocket() = default;
  // Opens, binds and joins; error() says why not when !ok().
  UdpReceiveSocket(const UdpEndpoint& endpoint, int requested_buffer = kDefaultBuffer,
                   unsigned interface_index = 0);
  UdpReceiveSocket(UdpReceiveSocket&&) = default;
  UdpReceiveSocket& operator=(UdpReceiveSocket&&) = default;
  ~UdpReceiveSocket();  // leaves the group

  bool ok() const { return static_cast<bool>(fd_); }
  int fd() const { return fd_.get(); }
  const std::string& error() const { return error_; }
  int requested_buffer() const { return requested_buffer_; }
  // What the kernel granted; less than asked where its limit (net.core.rmem_max) is lower.
  int granted_buffer() const { return granted_buffer_; }
  const UdpEndpoint& endpoint() const { return endpoint_; }

 private:
  void Leave();

  UniqueFd fd_;
  UdpEndpoint endpoint_;
  unsigned interface_index_ = 0;
  bool joined_ = false;
  std::string error_;
  int requested_buffer_ = 0;
  int granted_buffer_ = 0;
};

// An eventfd that a thread polls beside its socket, so that others can wake it.
class WakeEvent {
 public:
  WakeEvent();
  int fd() const { return fd_.get(); }
  void Signal();
  void Drain();

 private:
  UniqueFd fd_;
};
