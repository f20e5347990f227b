#include "filters/network_interface.h"

#include <cstring>

#include "platform/com/com.h"

HRESULT HandOutInterfaceName(const std::string& name, char** out) {
  if (!out) return E_POINTER;
  *out = static_cast<char*>(CoTaskMemAlloc(name.size() + 1));
  if (!*out) return E_OUTOFMEMORY;
  std::memcpy(*out, name.c_str(), name.size() + 1);
  return name.empty() ? S_FALSE : S_OK;
}
