#include "platform/ui/property_frame.h"

// Not built yet: the modal property frame answers E_NOTIMPL to every call.
HRESULT OleCreatePropertyFrame(OAHWND /*owner*/, std::uint32_t /*x*/, std::uint32_t /*y*/,
                               LPCWSTR /*caption*/, ULONG /*object_count*/, IUnknown** /*objects*/,
                               ULONG /*page_count*/, const CLSID* /*pages*/, std::uint32_t /*locale*/,
                               DWORD /*reserved*/, void* /*reserved_ptr*/) {
  return E_NOTIMPL;
}
