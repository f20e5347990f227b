#pragma once

#include <cstdint>
#include <span>
#include <vector>

#include "platform/dshow/filter.h"

// A stored filter selection: a 32-bit little-endian length L, then L bytes that
// hold a persisted moniker (class identifier, then the moniker's own data).
// L = 0 means no selection.
class TBaseFilter {
 public:
  // Reads a whole stored value: the length, then that many bytes; bytes the value
  // lacks stay zero. Throws std::length_error for a length beyond any real record.
  void ReadData(std::span<const std::uint8_t> value);
  // The whole value as it would be written: the length, then the L bytes.
  std::vector<std::uint8_t> WriteData() const;

  std::uint32_t Length() const { return static_cast<std::uint32_t>(moniker_.size()); }
  std::span<const std::uint8_t> MonikerBytes() const { return moniker_; }
  bool Empty() const { return moniker_.empty(); }

  // Makes the selected filter: loads the moniker from a memory stream and binds it
  // to IBaseFilter. Empty when the record is empty (then no COM call is made), when
  // the moniker cannot be loaded or when it binds to nothing.
  ComPtr<IBaseFilter> CreateFilter() const;

 private:
  std::vector<std::uint8_t> moniker_;
};
