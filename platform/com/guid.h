#pragma once

#include <compare>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

// A 128-bit class or interface identifier. The field layout is the one that
// persisted records use: Data1, Data2 and Data3 little-endian, Data4 as it stands.
struct GUID {
  std::uint32_t Data1 = 0;
  std::uint16_t Data2 = 0;
  std::uint16_t Data3 = 0;
  std::uint8_t Data4[8] = {};

  friend constexpr bool operator==(const GUID&, const GUID&) = default;
  friend constexpr auto operator<=>(const GUID&, const GUID&) = default;
};

using IID = GUID;
using CLSID = GUID;
using REFIID = const IID&;
using REFCLSID = const CLSID&;

inline constexpr std::size_t kGuidBinarySize = 16;
inline constexpr GUID GUID_NULL{};

namespace guid_detail {

constexpr int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// Parses "{XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}" (braces required, any case).
constexpr std::optional<GUID> Parse(std::string_view text) {
  if (text.size() != 38 || text.front() != '{' || text.back() != '}') return std::nullopt;
  if (text[9] != '-' || text[14] != '-' || text[19] != '-' || text[24] != '-') return std::nullopt;
  std::uint8_t bytes[16] = {};
  std::size_t pos = 1;
  for (int i = 0; i < 16; ++i) {
    if (text[pos] == '-') ++pos;
    const int hi = HexValue(text[pos]);
    const int lo = HexValue(text[pos + 1]);
    if (hi < 0 || lo < 0) return std::nullopt;
    bytes[i] = static_cast<std::uint8_t>(hi * 16 + lo);
    pos += 2;
  }
  GUID g;
  g.Data1 = (std::uint32_t{bytes[0]} << 24) | (std::uint32_t{bytes[1]} << 16) |
            (std::uint32_t{bytes[2]} << 8) | bytes[3];
  g.Data2 = static_cast<std::uint16_t>((bytes[4] << 8) | bytes[5]);
  g.Data3 = static_cast<std::uint16_t>((bytes[6] << 8) | bytes[7]);
  for (int i = 0; i < 8; ++i) g.Data4[i] = bytes[8 + i];
  return g;
}

}  // namespace guid_detail

// Compile-time identifier from its braced text form; a malformed literal does not compile.
consteval GUID MakeGuid(std::string_view text) {
  const auto parsed = guid_detail::Parse(text);
  if (!parsed) throw "malformed GUID literal";
  return *parsed;
}

// Braced, upper-case text form: {4315D437-5B8C-11D0-BD3B-00A0C911CE86}.
std::string GuidToString(const GUID& guid);
std::optional<GUID> GuidFromString(std::string_view text);

// The 16-byte binary layout of persisted records.
void GuidToBytes(const GUID& guid, std::uint8_t out[kGuidBinarySize]);
GUID GuidFromBytes(const std::uint8_t in[kGuidBinarySize]);

template <>
struct std::hash<GUID> {
  std::size_t operator()(const GUID& g) const noexcept {
    std::uint64_t a = (std::uint64_t{g.Data1} << 32) | (std::uint64_t{g.Data2} << 16) | g.Data3;
    std::uint64_t b = 0;
    for (int i = 0; i < 8; ++i) b = (b << 8) | g.Data4[i];
    return std::hash<std::uint64_t>{}(a ^ (b * 0x9E3779B97F4A7C15ull));
  }
};
