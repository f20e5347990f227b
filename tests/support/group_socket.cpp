#include "support/group_socket.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

constexpr std::size_t kLargestDatagram = 65536;

}  // namespace

GroupSocket::GroupSocket(std::uint16_t port) {
  fd_ = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
  const int on = 1;
  const int off = 0;
  ::setsockopt(fd_, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
  // Sockets on two ports of one group must not hear each other's traffic.
  ::setsockopt(fd_, IPPROTO_IP, IP_MULTICAST_ALL, &off, sizeof off);
  sockaddr_in any{};
  any.sin_family = AF_INET;
  any.sin_port = htons(port);
  any.sin_addr.s_addr = htonl(INADDR_ANY);
  ready_ = ::bind(fd_, reinterpret_cast<sockaddr*>(&any), sizeof any) == 0;
  ip_mreq join{};
  join.imr_multiaddr.s_addr = inet_addr(net::kGroupAddress);
  join.imr_interface.s_addr = htonl(INADDR_ANY);
  ready_ = ready_ && ::setsockopt(fd_, IPPROTO_IP, IP_ADD_MEMBERSHIP, &join, sizeof join) == 0;
}

GroupSocket::GroupSocket(SendOnly) {
  fd_ = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
  ready_ = fd_ >= 0;
}

GroupSocket::~GroupSocket() {
  if (fd_ >= 0) ::close(fd_);
}

std::vector<GroupSocket::Datagram> GroupSocket::Take() {
  std::vector<Datagram> datagrams;
  Datagram room(kLargestDatagram);
  for (;;) {
    // An empty datagram is still one; only "nothing waiting" ends the loop.
    const ssize_t n = ::recv(fd_, room.data(), room.size(), 0);
    if (n < 0) return datagrams;
    datagrams.emplace_back(room.begin(), room.begin() + n);
  }
}

GroupSocket::Datagram GroupSocket::Receive(std::chrono::milliseconds wait) {
  pollfd readable{fd_, POLLIN, 0};
  if (::poll(&readable, 1, static_cast<int>(wait.count())) <= 0) return {};
  Datagram datagram(kLargestDatagram);
  const ssize_t n = ::recv(fd_, datagram.data(), datagram.size(), 0);
  datagram.resize(n > 0 ? static_cast<std::size_t>(n) : 0);
  return datagram;
}

bool GroupSocket::Send(std::span<const std::uint8_t> datagram, std::uint16_t port) {
  sockaddr_in to{};
  to.sin_family = AF_INET;
  to.sin_port = htons(port);
  to.sin_addr.s_addr = inet_addr(net::kGroupAddress);
  return ::sendto(fd_, datagram.data(), datagram.size(), 0, reinterpret_cast<sockaddr*>(&to),
                  sizeof to) == static_cast<ssize_t>(datagram.size());
}
