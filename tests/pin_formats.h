#pragma once

// Reading a filter's pins as the graph sees them, shared by the filter tests.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/com/com.h"
#include "platform/dshow/filter.h"

// Appends "<name> in: <formats>" or "<name> out: <formats>" for each pin, in
// order. Fails (fatally) when a pin cannot say what it is or what it takes.
inline void DescribePins(const std::vector<ComPtr<IPin>>& pins, std::vector<std::string>* seen) {
  for (const auto& pin : pins) {
    PIN_INFO info{};
    ASSERT_EQ(pin->QueryPinInfo(&info), S_OK);
    ComPtr<IBaseFilter>::Adopt(info.pFilter);
    char* formats = nullptr;
    ASSERT_EQ(pin->QueryFormats(&formats), S_OK);
    seen->push_back(Utf16ToUtf8(info.achName) + (info.dir == PINDIR_INPUT ? " in: " : " out: ") +
                    formats);
    CoTaskMemFree(formats);
  }
}
