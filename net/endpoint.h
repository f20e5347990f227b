#pragma once

#include <cstdint>

// The one network endpoint of the link, fixed in the program.
namespace net {
inline constexpr const char* kGroupAddress = "235.1.2.3";
inline constexpr std::uint16_t kPort = 9000;
inline constexpr std::uint32_t kDefaultParameter = 0;
}  // namespace net
