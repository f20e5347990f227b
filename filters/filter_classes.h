#pragma once

#include "platform/com/guid.h"

// Class identifiers of the filters, and the one call that registers them all
// (with the graph manager and the capture graph builder).

// Category of software filters and of Video for Windows encoders, as they stand
// in display names.
inline constexpr GUID CLSID_LegacyAmFilterCategory = MakeGuid("{083863F1-70DE-11D0-BD40-00A0C911CE86}");
inline constexpr GUID CLSID_VideoCompressorCategory = MakeGuid("{33D9A760-90C8-11D0-BD43-00A0C911CE86}");

inline constexpr CLSID CLSID_NetworkSender = MakeGuid("{CE3B76CB-9540-48FA-9974-69A625D478E3}");
inline constexpr CLSID CLSID_NetworkReceiver = MakeGuid("{319F0815-ACEF-45FE-B497-A2E5D90A69D7}");
inline constexpr CLSID CLSID_Mpeg4Decoder = MakeGuid("{64697678-0000-0010-8000-00AA00389B71}");
// CLSID_VideoRenderer {70E102B0-5556-11CE-97C0-00AA0055595A}: platform/dshow/video_window.h

// Classes of our own.
inline constexpr CLSID CLSID_TestPatternCamera = MakeGuid("{B7E3A1C4-6F2D-4E8A-9C51-0D3F7A2E6B94}");
inline constexpr CLSID CLSID_Mpeg4Encoder = MakeGuid("{9F4C2D71-3A8E-4B65-A0D7-5C1E8B2F4A63}");
inline constexpr CLSID CLSID_V4l2Camera = MakeGuid("{C2D8F1A5-7B3E-4960-8A4D-E6F0B1C3D527}");

// Registers every filter class, their display-name resolvers ("@device:pnp:" for
// cameras, "@device:cm:{33D9A760-...}\xvid" for the encoder) and the graph classes.
// Safe to call more than once.
void RegisterPresenterLinkClasses();
