#pragma once

#include <cstdint>
#include <functional>

#include "platform/com/window_message.h"
#include "platform/dshow/dialogs.h"

// Which dialog of a filter to open: its property pages, or its codec's
// configuration dialog. Other values open nothing.
enum FilterDialogKind : std::uint8_t { fdDefaultPages = 0, fdCodecConfig = 4 };

// Opens the filter's dialog of `kind`, modal and owned by `owner`. Returns the
// status of the last call that returned one, or S_FALSE when it made none (an
// empty filter, another kind). Every failing status ends it quietly at that step.
HRESULT ShowFilterConfigDialog(OAHWND owner, IBaseFilter* filter, FilterDialogKind kind);

// The property frame the routine opens; tests put a recorder in its place
// (an empty function restores the platform's frame).
using PropertyFrameFunction =
    std::function<HRESULT(OAHWND owner, std::uint32_t x, std::uint32_t y, LPCWSTR caption,
                          ULONG object_count, IUnknown** objects, ULONG page_count,
                          const CLSID* pages, std::uint32_t locale, DWORD reserved,
                          void* reserved_ptr)>;
void SetPropertyFrameForTesting(PropertyFrameFunction frame);
