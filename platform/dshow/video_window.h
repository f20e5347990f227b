#pragma once

#include "platform/com/com.h"
#include "platform/dshow/graph.h"

// The video renderer's window control. A window handle (OAHWND) is a QWidget*
// as a number. Positions are in the owner's client coordinates.

inline constexpr LONG WS_CHILD = 0x40000000;
inline constexpr LONG WS_VISIBLE = 0x10000000;
inline constexpr LONG WS_CLIPSIBLINGS = 0x04000000;
inline constexpr LONG WS_CLIPCHILDREN = 0x02000000;
inline constexpr LONG WS_TABSTOP = 0x00010000;
inline constexpr LONG WS_EX_CONTROLPARENT = 0x00010000;

inline constexpr CLSID CLSID_VideoRenderer = MakeGuid("{70E102B0-5556-11CE-97C0-00AA0055595A}");

struct IVideoWindow : IUnknown {
  static constexpr IID iid = MakeGuid("{56A868B4-0AD4-11CE-B03A-0020AF0BA770}");
  // The window becomes a child of `owner` (0: a top-level window of its own).
  virtual HRESULT put_Owner(OAHWND owner) = 0;
  virtual HRESULT get_Owner(OAHWND* owner) = 0;
  virtual HRESULT put_WindowStyle(LONG style) = 0;
  virtual HRESULT get_WindowStyle(LONG* style) = 0;
  virtual HRESULT put_WindowStyleEx(LONG style) = 0;
  virtual HRESULT get_WindowStyleEx(LONG* style) = 0;
  virtual HRESULT SetWindowPosition(LONG left, LONG top, LONG width, LONG height) = 0;
  virtual HRESULT GetWindowPosition(LONG* left, LONG* top, LONG* width, LONG* height) = 0;
  virtual HRESULT put_Caption(const WCHAR* caption) = 0;
  // Caption in a BSTR the caller frees with SysFreeString.
  virtual HRESULT get_Caption(BSTR* caption) = 0;
  // Mouse and keyboard input on the picture goes to `drain` (0: handled here).
  virtual HRESULT put_MessageDrain(OAHWND drain) = 0;
  virtual HRESULT get_MessageDrain(OAHWND* drain) = 0;
  virtual HRESULT put_Visible(LONG visible) = 0;  // OATRUE (-1) or OAFALSE (0)
  virtual HRESULT get_Visible(LONG* visible) = 0;
};

inline constexpr LONG OATRUE = -1;
inline constexpr LONG OAFALSE = 0;
