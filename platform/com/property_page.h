#pragma once

#include "platform/com/unknown.h"
#include "platform/com/window_message.h"

// A property page: our own small contract, created through the class registry.
// The frame hands it the objects, shows it inside a parent widget, and applies it.
struct IPropertyPage : IUnknown {
  static constexpr IID iid = MakeGuid("{8E3B1C2A-5D47-4F0B-A6C3-2B7D9E41F5A0}");
  // Objects the page edits (the filters); counted while the page holds them.
  // Zero objects: the page lets go of what it held.
  virtual HRESULT SetObjects(ULONG count, IUnknown** objects) = 0;
  // The page's title for its tab, in task memory (CoTaskMemFree).
  virtual HRESULT GetTitle(LPWSTR* title) = 0;
  // Builds the page's controls inside `parent` (a QWidget* as a number).
  virtual HRESULT Activate(OAHWND parent) = 0;
  virtual HRESULT Deactivate() = 0;
  // S_OK when the page holds changes not yet applied, S_FALSE when not.
  virtual HRESULT IsPageDirty() = 0;
  virtual HRESULT Apply() = 0;
};
