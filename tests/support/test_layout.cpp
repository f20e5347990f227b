#include "support/test_layout.h"

#include <cstdio>
#include <stdexcept>

#include "Unit1.h"
#include "filters/filter_classes.h"
#include "platform/com/storage.h"
#include "support/fake_filter.h"

namespace {

// Where the hex of `slot`'s record stands in `layout`: the text between the braces.
std::pair<std::size_t, std::size_t> RecordSpan(std::string_view layout, std::string_view slot) {
  const std::string header = "object " + std::string(slot) + ": TFilter";
  const std::size_t object = layout.find(header);
  if (object == std::string_view::npos) throw std::invalid_argument("no slot " + std::string(slot));
  const std::size_t open = layout.find('{', layout.find("BaseFilter.data", object));
  const std::size_t close = layout.find('}', open);
  if (open == std::string_view::npos || close == std::string_view::npos) {
    throw std::invalid_argument("no record in " + std::string(slot));
  }
  return {open + 1, close};
}

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

}  // namespace

std::string WithSelection(std::string_view layout, std::string_view slot,
                          std::span<const std::uint8_t> value) {
  const auto [begin, end] = RecordSpan(layout, slot);
  std::string hex = "\n      ";
  for (std::size_t i = 0; i < value.size(); ++i) {
    char digits[3];
    std::snprintf(digits, sizeof digits, "%02X", value[i]);
    hex += digits;
    if (i + 1 < value.size()) hex += (i % 32 == 31) ? "\n      " : (i % 4 == 3 ? " " : "");
  }
  std::string result(layout.substr(0, begin));
  result += hex;
  result += layout.substr(end);
  return result;
}

std::vector<std::uint8_t> StoredSelection(std::string_view layout, std::string_view slot) {
  const auto [begin, end] = RecordSpan(layout, slot);
  std::vector<std::uint8_t> bytes;
  int high = -1;
  for (char c : layout.substr(begin, end - begin)) {
    const int digit = HexDigit(c);
    if (digit < 0) continue;
    if (high < 0) {
      high = digit;
    } else {
      bytes.push_back(static_cast<std::uint8_t>(high * 16 + digit));
      high = -1;
    }
  }
  return bytes;
}

std::vector<std::uint8_t> SoftwareFilterRecord(const CLSID& clsid) {
  return MakeSelectionRecord(SoftwareFilterDisplayName(clsid));
}

std::vector<std::uint8_t> EmptyRecord() { return {0, 0, 0, 0}; }

std::string FakeFilterLayout() {
  std::string layout(kUnit1Layout);
  layout = WithSelection(layout, "SourceFilter", SoftwareFilterRecord(CLSID_FakeCamera));
  layout = WithSelection(layout, "DivXEncoder", SoftwareFilterRecord(CLSID_FakeEncoder));
  layout = WithSelection(layout, "SenderFilter", SoftwareFilterRecord(CLSID_FakeSender));
  layout = WithSelection(layout, "ReceiveFilter", SoftwareFilterRecord(CLSID_FakeReceiver));
  layout = WithSelection(layout, "DivxDecoderFilter", SoftwareFilterRecord(CLSID_FakeDecoder));
  layout = WithSelection(layout, "RederFilter", SoftwareFilterRecord(CLSID_FakeRenderer));
  return layout;
}

std::string TestPatternLayout() {
  return WithSelection(kUnit1Layout, "SourceFilter", SoftwareFilterRecord(CLSID_TestPatternCamera));
}
