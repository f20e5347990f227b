#pragma once

#include <cstdint>

#include "platform/com/unknown.h"

// The configuration interface of the network sender and receiver filters.
//
// Slot order after IUnknown: SetParameter, GetEndpoint, SetEndpoint.
//
// SetEndpoint(address, port): the IPv4 group as 32 bits in network byte order
// (as inet_addr gives it) and the port as 32 bits whose first two bytes in memory
// are the port in network byte order and whose other two are zero. An endpoint
// handed while the filter runs takes effect at once. (0, 0) forgets the
// endpoint; a zero address, a zero port or 255.255.255.255 (inet_addr's answer
// to bad text) is E_INVALIDARG and leaves the endpoint as it was.
//
// SetParameter(value): the multicast time-to-live of the sender and the
// receiver's jitter allowance, packed as bits:
//   bits 0-7   time-to-live for sent datagrams (0: the default, 1)
//   bits 8-15  receiver reorder window in milliseconds (0: the default, none)
//   bit  16    sender loopback off (0: the default, loopback on)
// 0 keeps every default. Bits a filter does not use are ignored by it.
struct INetEndpointConfig : IUnknown {
  static constexpr IID iid = MakeGuid("{1CB42CC8-D32C-4F73-9267-C114DA470378}");
  virtual HRESULT SetParameter(std::uint32_t value) = 0;
  // The endpoint last handed over, in the same form as SetEndpoint takes it;
  // S_FALSE and zeros when the filter has none.
  virtual HRESULT GetEndpoint(std::uint32_t* address, std::uint32_t* port) = 0;
  virtual HRESULT SetEndpoint(std::uint32_t address, std::uint32_t port) = 0;
};

namespace net_parameter {
inline constexpr std::uint32_t kTtlMask = 0xFF;
inline constexpr std::uint32_t kReorderWindowShift = 8;
inline constexpr std::uint32_t kReorderWindowMask = 0xFF00;
inline constexpr std::uint32_t kLoopbackOff = 1u << 16;
}  // namespace net_parameter
