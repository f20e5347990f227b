#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "platform/com/guid.h"

// Test layouts made from the stored Unit1 layout by replacing selection records.

// `layout` with the whole stored value of `slot`'s BaseFilter.data replaced by `value`.
std::string WithSelection(std::string_view layout, std::string_view slot,
                          std::span<const std::uint8_t> value);
// The value stored for `slot` in `layout`, as bytes.
std::vector<std::uint8_t> StoredSelection(std::string_view layout, std::string_view slot);
// The record that selects the software filter of `clsid`.
std::vector<std::uint8_t> SoftwareFilterRecord(const CLSID& clsid);
// A record of length 0: no selection.
std::vector<std::uint8_t> EmptyRecord();

// Unit1.layout with the six slots selecting the fake filters of tests/support.
std::string FakeFilterLayout();
// Unit1.layout whose SourceFilter selects the test pattern camera.
std::string TestPatternLayout();
