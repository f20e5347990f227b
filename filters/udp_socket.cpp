#include "filters/udp_socket.h"

#include <arpa/inet.h>
#include <net/if.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

bool UdpEndpoint::IsMulticast() const { return IN_MULTICAST(ntohl(address)); }

std::string UdpEndpoint::AddressText() const {
  in_addr in{};
  in.s_addr = address;
  char text[INET_ADDRSTRLEN] = {};
  inet_ntop(AF_INET, &in, text, sizeof text);
  return text;
}

sockaddr_in UdpEndpoint::SocketAddress() const {
  sockaddr_in to{};
  to.sin_family = AF_INET;
  to.sin_addr.s_addr = address;
  to.sin_port = htons(port);
  return to;
}

UdpEndpoint EndpointFromArguments(std::uint32_t address, std::uint32_t port) {
  std::uint16_t port_bytes = 0;
  std::memcpy(&port_bytes, &port, sizeof port_bytes);  // the first two bytes in memory
  return UdpEndpoint{address, ntohs(port_bytes)};
}

void EndpointToArguments(const UdpEndpoint& endpoint, std::uint32_t* address,
                         std::uint32_t* port) {
  *address = endpoint.address;
  *port = 0;
  const std::uint16_t port_bytes = htons(endpoint.port);
  std::memcpy(port, &port_bytes, sizeof port_bytes);
}

unsigned InterfaceIndex(const std::string& name) {
  // Longer names are no interface's; if_nametoindex would read them cut short.
  if (name.empty() || name.size() >= IF_NAMESIZE) return 0;
  return ::if_nametoindex(name.c_str());
}

void UniqueFd::Reset() {
  if (fd_ >= 0) ::close(std::exchange(fd_, -1));
}

// UdpSender ----------------------------------------------------------------------

UdpSender::UdpSender() : fd_(::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0)) {
  if (!fd_) last_error_ = errno;
}

bool UdpSender::SetMulticastOptions(int ttl, bool loopback) {
  const unsigned char ttl_byte = static_cast<unsigned char>(ttl);
  const unsigned char loop_byte = loopback ? 1 : 0;
  if (::setsockopt(fd_.get(), IPPROTO_IP, IP_MULTICAST_TTL, &ttl_byte, sizeof ttl_byte) != 0 ||
      ::setsockopt(fd_.get(), IPPROTO_IP, IP_MULTICAST_LOOP, &loop_byte, sizeof loop_byte) != 0) {
    last_error_ = errno;
    return false;
  }
  return true;
}

bool UdpSender::SetMulticastInterface(unsigned interface_index) {
  // By index: the interface needs no IPv4 address of its own for it. Index 0
  // with no address hands the choice back to the routing table.
  ip_mreqn request{};
  request.imr_ifindex = static_cast<int>(interface_index);
  if (::setsockopt(fd_.get(), IPPROTO_IP, IP_MULTICAST_IF, &request, sizeof request) != 0) {
    last_error_ = errno;
    return false;
  }
  return true;
}

std::size_t UdpSender::Send(std::span<const mp4v::OutgoingPacket> packets, const sockaddr_in& to) {
  const std::size_t count = packets.size();
  if (count == 0) return 0;
  // The pieces are pointed at from the messages: size them before taking addresses.
  messages_.assign(count, mmsghdr{});
  pieces_.resize(count * 3);
  for (std::size_t i = 0; i < count; ++i) {
    const mp4v::OutgoingPacket& packet = packets[i];
    iovec* piece = &pieces_[i * 3];
    std::size_t used = 0;
    piece[used++] = {const_cast<std::uint8_t*>(packet.header.data()), packet.header.size()};
    for (const auto& part : packet.payload) {
      if (!part.empty()) piece[used++] = {const_cast<std::uint8_t*>(part.data()), part.size()};
    }
    msghdr& message = messages_[i].msg_hdr;
    message.msg_name = const_cast<sockaddr_in*>(&to);
    message.msg_namelen = sizeof to;
    message.msg_iov = piece;
    message.msg_iovlen = used;
  }

  std::size_t refused = 0;
  std::size_t done = 0;
  while (done < count) {
    const int sent =
        ::sendmmsg(fd_.get(), &messages_[done], static_cast<unsigned>(count - done), 0);
    if (sent > 0) {
      done += static_cast<std::size_t>(sent);
      continue;
    }
    if (sent < 0 && errno == EINTR) continue;
    // The message at `done` was refused: note why and go on with the next one.
    last_error_ = errno;
    ++refused;
    ++done;
  }
  return refused;
}

// UdpReceiveSocket ----------------------------------------------------------------

namespace {

int ReceiveBufferSize(int fd) {
  int size = 0;
  socklen_t length = sizeof size;
  if (::getsockopt(fd, SOL_SOCKET, SO_RCVBUF, &size, &length) != 0) return 0;
  // Linux reports twice what was set: the other half is its bookkeeping.
  return size / 2;
}

std::string SystemError(const char* what) {
  return std::string(what) + ": " + std::strerror(errno);
}

}  // namespace

UdpReceiveSocket::UdpReceiveSocket(const UdpEndpoint& endpoint, int requested_buffer,
                                   unsigned interface_index)
    : endpoint_(endpoint), interface_index_(interface_index), requested_buffer_(requested_buffer) {
  UniqueFd fd(::socket(AF_INET, SOCK_DGRAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0));
  if (!fd) {
    error_ = SystemError("socket");
    return;
  }
  const int on = 1;
  if (::setsockopt(fd.get(), SOL_SOCKET, SO_REUSEADDR, &on, sizeof on) != 0) {
    error_ = SystemError("SO_REUSEADDR");
    return;
  }
  // Ask for room for a keyframe burst. Past net.core.rmem_max only a privileged
  // process gets it (SO_RCVBUFFORCE); the caller reports what it got.
  ::setsockopt(fd.get(), SOL_SOCKET, SO_RCVBUF, &requested_buffer, sizeof requested_buffer);
  granted_buffer_ = ReceiveBufferSize(fd.get());
  if (granted_buffer_ < requested_buffer &&
      ::setsockopt(fd.get(), SOL_SOCKET, SO_RCVBUFFORCE, &requested_buffer,
                   sizeof requested_buffer) == 0) {
    granted_buffer_ = ReceiveBufferSize(fd.get());
  }

  if (endpoint.IsMulticast()) {
    // Only the groups this socket joined, not every group some socket on the
    // machine joined on this port.
    const int off = 0;
    ::setsockopt(fd.get(), IPPROTO_IP, IP_MULTICAST_ALL, &off, sizeof off);
  }
  // For multicast, bind to any address and join the group afterwards.
  sockaddr_in any{};
  any.sin_family = AF_INET;
  any.sin_addr.s_addr = htonl(INADDR_ANY);
  any.sin_port = htons(endpoint.port);
  if (::bind(fd.get(), reinterpret_cast<const sockaddr*>(&any), sizeof any) != 0) {
    error_ = SystemError("bind");
    return;
  }
  if (endpoint.IsMulticast()) {
    // Index 0 and INADDR_ANY: the interface the routing table picks for the group.
    ip_mreqn membership{};
    membership.imr_multiaddr.s_addr = endpoint.address;
    membership.imr_address.s_addr = htonl(INADDR_ANY);
    membership.imr_ifindex = static_cast<int>(interface_index);
    if (::setsockopt(fd.get(), IPPROTO_IP, IP_ADD_MEMBERSHIP, &membership, sizeof membership) !=
        0) {
      error_ = SystemError("IP_ADD_MEMBERSHIP");
      return;
    }
    joined_ = true;
  }
  fd_ = std::move(fd);
}

UdpReceiveSocket::~UdpReceiveSocket() { Leave(); }

void UdpReceiveSocket::Leave() {
  if (!joined_ || !fd_) return;
  ip_mreqn membership{};
  membership.imr_multiaddr.s_addr = endpoint_.address;
  membership.imr_address.s_addr = htonl(INADDR_ANY);
  membership.imr_ifindex = static_cast<int>(interface_index_);
  ::setsockopt(fd_.get(), IPPROTO_IP, IP_DROP_MEMBERSHIP, &membership, sizeof membership);
  joined_ = false;
}

// WakeEvent --------------------------------------------------------------------

WakeEvent::WakeEvent() : fd_(::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC)) {}

void WakeEvent::Signal() {
  const std::uint64_t one = 1;
  [[maybe_unused]] const auto written = ::write(fd_.get(), &one, sizeof one);
}

void WakeEvent::Drain() {
  std::uint64_t count = 0;
  [[maybe_unused]] const auto read = ::read(fd_.get(), &count, sizeof count);
}
