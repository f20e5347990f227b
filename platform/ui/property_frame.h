#pragma once

#include "platform/com/com.h"
#include "platform/com/property_page.h"
#include "platform/com/window_message.h"

// The modal property frame: one tab per page class, pages created through the
// class registry (IPropertyPage), OK, Cancel and Apply. Owned by `owner`; returns
// when the user closes it, while the window's thread keeps dispatching.
HRESULT OleCreatePropertyFrame(OAHWND owner, std::uint32_t x, std::uint32_t y, LPCWSTR caption,
                               ULONG object_count, IUnknown** objects, ULONG page_count,
                               const CLSID* pages, std::uint32_t locale, DWORD reserved,
                               void* reserved_ptr);
