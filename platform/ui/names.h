#pragma once

#include <algorithm>
#include <string_view>

// Internal to platform/ui. Component, class, property and handler names compare
// without regard to case, as the layout's own language does. ASCII only: the
// names are identifiers.
namespace ui_names {

inline char LowerAscii(char c) { return c >= 'A' && c <= 'Z' ? char(c - 'A' + 'a') : c; }

inline bool SameName(std::string_view a, std::string_view b) {
  return std::equal(a.begin(), a.end(), b.begin(), b.end(),
                    [](char x, char y) { return LowerAscii(x) == LowerAscii(y); });
}

struct NameLess {
  using is_transparent = void;
  bool operator()(std::string_view a, std::string_view b) const {
    return std::lexicographical_compare(a.begin(), a.end(), b.begin(), b.end(),
                                        [](char x, char y) { return LowerAscii(x) < LowerAscii(y); });
  }
};

}  // namespace ui_names
