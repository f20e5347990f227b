#include "filters/frame_stamp.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <limits>

namespace frame_stamp {
namespace {

// Video-range black and white: they survive any range conversion unclipped.
constexpr std::uint8_t kBlack = 16;
constexpr std::uint8_t kWhite = 235;
constexpr std::uint8_t kNeutralChroma = 128;

// A sample must be clearly dark or clearly light; anything between is damage.
constexpr int kDarkBelow = 96;
constexpr int kLightAbove = 160;

// Block i of a row spans [BlockStart(i), BlockStart(i + 1)), so the blocks cover
// the full width at any scale and a stamp read from a scaled copy lines up.
int BlockStart(int index, int width) { return index * width / kBits; }

int RowHeight(int height) { return height / kRowsDivisor; }

bool BitOf(std::uint32_t number, int index) {
  return ((number >> (kBits - 1 - index)) & 1u) != 0;
}

// Times by frame number, as steady-clock ticks; kNone marks an empty entry.
// One entry per 16-bit number: a writer never waits and a reader never sees a
// half-written time.
constexpr std::int64_t kNone = std::numeric_limits<std::int64_t>::min();

struct TimeTable {
  std::array<std::atomic<std::int64_t>, 1u << kBits> ticks;
  TimeTable() {
    for (auto& t : ticks) t.store(kNone, std::memory_order_relaxed);
  }
};

TimeTable& Captures() {
  static TimeTable table;
  return table;
}

// The observer and its context change together: a sequence count lets the paint
// path read a consistent pair without a lock (odd while a change is under way).
std::atomic<std::uint32_t> observer_sequence{0};
std::atomic<PaintObserver> observer_function{nullptr};
std::atomic<void*> observer_context{nullptr};

}  // namespace

void StampLuma(std::uint8_t* luma, int stride, int width, int height, std::uint32_t number) {
  const int row_height = RowHeight(height);
  if (!luma || width < kBits || row_height < 1) return;
  for (int row = 0; row < 2; ++row) {
    // Row 0 carries the number, row 1 its complement.
    const std::uint32_t value = row == 0 ? number : ~number;
    for (int y = row * row_height; y < (row + 1) * row_height; ++y) {
      std::uint8_t* line = luma + static_cast<std::ptrdiff_t>(y) * stride;
      for (int i = 0; i < kBits; ++i) {
        const std::uint8_t shade = BitOf(value, i) ? kWhite : kBlack;
        for (int x = BlockStart(i, width); x < BlockStart(i + 1, width); ++x) line[x] = shade;
      }
    }
  }
}

void StampChroma(std::uint8_t* u, std::uint8_t* v, int chroma_stride, int width, int height) {
  const int row_height = RowHeight(height);
  if (!u || !v || row_height < 1) return;
  // Half resolution both ways; round up so an odd edge row is covered too.
  const int chroma_rows = (2 * row_height + 1) / 2;
  const int chroma_width = (width + 1) / 2;
  for (int y = 0; y < chroma_rows; ++y) {
    const std::ptrdiff_t offset = static_cast<std::ptrdiff_t>(y) * chroma_stride;
    for (int x = 0; x < chroma_width; ++x) {
      u[offset + x] = kNeutralChroma;
      v[offset + x] = kNeutralChroma;
    }
  }
}

std::optional<std::uint16_t> ReadRgb32(const std::uint8_t* pixels, int stride, int width,
                                       int height) {
  const int row_height = RowHeight(height);
  if (!pixels || width < kBits || row_height < 1) return std::nullopt;
  std::uint32_t rows[2] = {0, 0};
  for (int row = 0; row < 2; ++row) {
    // Average the middle half of each block: edges blur under compression and scaling.
    const int top = row * row_height;
    const int y0 = top + row_height / 4;
    const int y1 = std::max(y0 + 1, top + row_height - row_height / 4);
    for (int i = 0; i < kBits; ++i) {
      const int left = BlockStart(i, width);
      const int block_width = BlockStart(i + 1, width) - left;
      const int x0 = left + block_width / 4;
      const int x1 = std::max(x0 + 1, left + block_width - block_width / 4);
      long sum = 0;
      for (int y = y0; y < y1; ++y) {
        const std::uint8_t* p = pixels + static_cast<std::ptrdiff_t>(y) * stride + 4 * x0;
        for (int x = x0; x < x1; ++x, p += 4) sum += (29 * p[0] + 150 * p[1] + 77 * p[2]) >> 8;
      }
      const long luma = sum / (static_cast<long>(y1 - y0) * (x1 - x0));
      int bit = 0;
      if (luma >= kLightAbove) {
        bit = 1;
      } else if (luma > kDarkBelow) {
        return std::nullopt;
      }
      rows[row] = (rows[row] << 1) | static_cast<std::uint32_t>(bit);
    }
  }
  if ((rows[0] ^ rows[1]) != 0xFFFFu) return std::nullopt;
  return static_cast<std::uint16_t>(rows[0]);
}

void NoteCaptured(std::uint16_t number, Clock::time_point when) {
  Captures().ticks[number].store(when.time_since_epoch().count(), std::memory_order_release);
}

std::optional<Clock::time_point> CaptureTime(std::uint16_t number) {
  const std::int64_t ticks = Captures().ticks[number].load(std::memory_order_acquire);
  if (ticks == kNone) return std::nullopt;
  return Clock::time_point(Clock::duration(ticks));
}

void NotePainted(std::uint16_t number, Clock::time_point when) {
  PaintObserver observer = nullptr;
  void* context = nullptr;
  for (;;) {
    const std::uint32_t before = observer_sequence.load(std::memory_order_acquire);
    if (before & 1u) continue;
    observer = observer_function.load(std::memory_order_acquire);
    context = observer_context.load(std::memory_order_acquire);
    std::atomic_thread_fence(std::memory_order_acquire);
    if (observer_sequence.load(std::memory_order_relaxed) == before) break;
  }
  if (!observer) return;
  // A frame captured in another process has no capture time here: the record
  // then carries the epoch, which an observer can tell from a real time.
  const PaintRecord record{number, when, CaptureTime(number).value_or(Clock::time_point{})};
  observer(record, context);
}

void SetPaintObserver(PaintObserver observer, void* context) {
  observer_sequence.fetch_add(1, std::memory_order_acq_rel);
  observer_function.store(observer, std::memory_order_release);
  observer_context.store(context, std::memory_order_release);
  observer_sequence.fetch_add(1, std::memory_order_acq_rel);
}

}  // namespace frame_stamp
