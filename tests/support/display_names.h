#pragma once

// The display names the program stores for the link's filters, spelled out as
// the stored layout holds them, for tests and benchmarks that bind them.
namespace display_names {

inline constexpr char16_t kTestPatternCamera[] =
    u"@device:sw:{083863F1-70DE-11D0-BD40-00A0C911CE86}\\{B7E3A1C4-6F2D-4E8A-9C51-0D3F7A2E6B94}";
inline constexpr char16_t kEncoder[] = u"@device:cm:{33D9A760-90C8-11D0-BD43-00A0C911CE86}\\xvid";
inline constexpr char16_t kSender[] =
    u"@device:sw:{083863F1-70DE-11D0-BD40-00A0C911CE86}\\{CE3B76CB-9540-48FA-9974-69A625D478E3}";
inline constexpr char16_t kReceiver[] =
    u"@device:sw:{083863F1-70DE-11D0-BD40-00A0C911CE86}\\{319F0815-ACEF-45FE-B497-A2E5D90A69D7}";
inline constexpr char16_t kDecoder[] =
    u"@device:sw:{083863F1-70DE-11D0-BD40-00A0C911CE86}\\{64697678-0000-0010-8000-00AA00389B71}";
inline constexpr char16_t kVideoRenderer[] =
    u"@device:sw:{083863F1-70DE-11D0-BD40-00A0C911CE86}\\{70E102B0-5556-11CE-97C0-00AA0055595A}";

}  // namespace display_names
