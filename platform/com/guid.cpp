#include "platform/com/guid.h"

#include <cstdio>

std::string GuidToString(const GUID& g) {
  char text[39];
  std::snprintf(text, sizeof text, "{%08X-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X}", g.Data1,
                g.Data2, g.Data3, g.Data4[0], g.Data4[1], g.Data4[2], g.Data4[3], g.Data4[4],
                g.Data4[5], g.Data4[6], g.Data4[7]);
  return text;
}

std::optional<GUID> GuidFromString(std::string_view text) { return guid_detail::Parse(text); }

void GuidToBytes(const GUID& g, std::uint8_t out[kGuidBinarySize]) {
  out[0] = static_cast<std::uint8_t>(g.Data1);
  out[1] = static_cast<std::uint8_t>(g.Data1 >> 8);
  out[2] = static_cast<std::uint8_t>(g.Data1 >> 16);
  out[3] = static_cast<std::uint8_t>(g.Data1 >> 24);
  out[4] = static_cast<std::uint8_t>(g.Data2);
  out[5] = static_cast<std::uint8_t>(g.Data2 >> 8);
  out[6] = static_cast<std::uint8_t>(g.Data3);
  out[7] = static_cast<std::uint8_t>(g.Data3 >> 8);
  for (int i = 0; i < 8; ++i) out[8 + i] = g.Data4[i];
}

GUID GuidFromBytes(const std::uint8_t in[kGuidBinarySize]) {
  GUID g;
  g.Data1 = std::uint32_t{in[0]} | (std::uint32_t{in[1]} << 8) | (std::uint32_t{in[2]} << 16) |
            (std::uint32_t{in[3]} << 24);
  g.Data2 = static_cast<std::uint16_t>(in[4] | (in[5] << 8));
  g.Data3 = static_cast<std::uint16_t>(in[6] | (in[7] << 8));
  for (int i = 0; i < 8; ++i) g.Data4[i] = in[8 + i];
  return g;
}
