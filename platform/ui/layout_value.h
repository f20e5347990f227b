#pragma once

#include <cstdint>
#include <string>
#include <vector>

// A value in the stored layout.
struct LayoutValue {
  enum class Kind { Integer, String, Identifier, Boolean, List, Binary };

  Kind kind = Kind::Integer;
  std::int64_t integer = 0;
  bool boolean = false;
  std::string text;                 // String (unquoted) or Identifier
  std::vector<LayoutValue> items;   // List
  std::vector<std::uint8_t> bytes;  // Binary
  int line = 0;                     // where it stood in the layout, for errors

  static const char* KindName(Kind kind);
};
