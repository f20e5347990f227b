#pragma once

#include <initializer_list>

#include "platform/dshow/dialogs.h"

// The property page classes of our filters, and the one call that registers them.
// Each filter names its pages through ISpecifyPropertyPages; the frame creates
// them from the class registry.

inline constexpr CLSID CLSID_CameraPage = MakeGuid("{4342A12F-FEF7-4CCD-8D85-440EC5679019}");
inline constexpr CLSID CLSID_TestPatternPage = MakeGuid("{7A12EA61-2550-49B1-A38F-1DD6037A5E64}");
inline constexpr CLSID CLSID_NetworkSenderPage = MakeGuid("{A656E573-7473-419B-B57B-F4CB11DFCABB}");
inline constexpr CLSID CLSID_NetworkReceiverPage = MakeGuid("{E994113B-55CB-4EE5-BE46-46E2237A2CA0}");

// Registers the four page classes. Safe to call more than once.
void RegisterPropertyPageClasses();

// Fills `pages` with a list in task memory (the caller frees pElems), for
// ISpecifyPropertyPages::GetPages.
HRESULT PageList(std::initializer_list<CLSID> classes, CAUUID* pages);
