#include "media/base_filter_record.h"

#include <algorithm>
#include <stdexcept>

#include "platform/com/storage.h"

namespace {

// No persisted moniker comes near this; a larger length is a damaged record.
constexpr std::uint32_t kMaxRecordLength = 1u << 20;

}  // namespace

void TBaseFilter::ReadData(std::span<const std::uint8_t> value) {
  std::uint8_t length_bytes[4] = {};
  std::copy_n(value.begin(), std::min<std::size_t>(4, value.size()), length_bytes);
  const std::uint32_t length = std::uint32_t{length_bytes[0]} |
                               (std::uint32_t{length_bytes[1]} << 8) |
                               (std::uint32_t{length_bytes[2]} << 16) |
                               (std::uint32_t{length_bytes[3]} << 24);
  if (length > kMaxRecordLength) throw std::length_error("filter selection record too long");
  moniker_.assign(length, 0);
  if (value.size() > 4) {
    const auto available = value.subspan(4);
    std::copy_n(available.begin(), std::min<std::size_t>(length, available.size()),
                moniker_.begin());
  }
}

std::vector<std::uint8_t> TBaseFilter::WriteData() const {
  const std::uint32_t length = Length();
  std::vector<std::uint8_t> value(4 + moniker_.size());
  for (int i = 0; i < 4; ++i) value[i] = static_cast<std::uint8_t>(length >> (8 * i));
  std::copy(moniker_.begin(), moniker_.end(), value.begin() + 4);
  return value;
}

ComPtr<IBaseFilter> TBaseFilter::CreateFilter() const {
  ComPtr<IBaseFilter> filter;
  if (moniker_.empty()) return filter;
  const ComPtr<IStream> stream = CreateMemoryStream(moniker_);
  if (!stream) return filter;
  // Statuses are not examined: a selection that does not resolve leaves the slot empty.
  ComPtr<IMoniker> moniker;
  OleLoadFromStream(stream.Get(), IMoniker::iid, moniker.ReleaseAndGetVoidAddress());
  if (!moniker) return filter;
  moniker->BindToObject(nullptr, nullptr, IBaseFilter::iid, filter.ReleaseAndGetVoidAddress());
  return filter;
}
