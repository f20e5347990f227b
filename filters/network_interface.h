#pragma once

#include <string>

#include "platform/com/unknown.h"

// The network interface a network sender sends its group on and a network
// receiver joins its group on. None named: the one the routing table picks for
// the group. A change while the graph runs takes effect at once (the sender's
// next datagram goes out there; the receiver leaves the group and joins it
// again there). It has no say over unicast endpoints.
struct INetworkInterface : IUnknown {
  static constexpr IID iid = MakeGuid("{A4E6E6AD-27C7-4F68-B627-EC5CA1DB1EE2}");
  // `name` is an interface name as the system gives it ("lo", "eth0"), UTF-8
  // and zero-terminated; null or empty hands the choice back to the routing
  // table. A name the machine has no interface by is E_INVALIDARG and changes
  // nothing.
  virtual HRESULT SetInterface(const char* name) = 0;
  // The name last set, zero-terminated in task memory (free it with
  // CoTaskMemFree): S_OK with the name, or S_FALSE with an empty text while the
  // routing table chooses.
  virtual HRESULT GetInterface(char** name) = 0;
};

// For the filters that offer it: `name` copied to task memory as GetInterface
// hands it out, with GetInterface's answer (S_FALSE for an empty name).
HRESULT HandOutInterfaceName(const std::string& name, char** out);
