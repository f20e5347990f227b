#pragma once

#include "platform/com/com.h"
#include "platform/com/property_page.h"
#include "platform/dshow/graph.h"

// Configuration dialogs of filters: property pages and codec dialogs.

struct CAUUID {
  ULONG cElems;
  GUID* pElems;  // task memory: the caller frees it with CoTaskMemFree
};

struct ISpecifyPropertyPages : IUnknown {
  static constexpr IID iid = MakeGuid("{B196B28B-BAB4-101A-B69C-00AA00341D07}");
  virtual HRESULT GetPages(CAUUID* pages) = 0;
};

// Dialog codes of ShowDialog.
inline constexpr int VfwCompressDialog_Config = 0x01;
inline constexpr int VfwCompressDialog_About = 0x02;
inline constexpr int VfwCompressDialog_QueryConfig = 0x04;
inline constexpr int VfwCompressDialog_QueryAbout = 0x08;

struct IAMVfwCompressDialogs : IUnknown {
  static constexpr IID iid = MakeGuid("{D8D715A3-6E5E-11D0-B3F0-00AA003761C5}");
  // Query codes (4, 8) with no window answer S_OK when that dialog exists and show
  // nothing; 1 and 2 show the dialog, modal, owned by `window`.
  virtual HRESULT ShowDialog(int dialog, OAHWND window) = 0;
};
