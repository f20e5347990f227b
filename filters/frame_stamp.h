#pragma once

#include <chrono>
#include <cstdint>
#include <optional>

// Frame numbers painted into the picture as black and white blocks that survive
// compression and scaling, and the times at which they were captured and shown,
// so that the latency from capture to the screen can be measured where the
// picture is painted.
//
// The stamp: the top sixth of the picture holds two rows of 16 blocks across the
// full width. Row 1 carries the 16-bit frame number, most significant bit first
// (white = 1); row 2 carries its complement, so a damaged or absent stamp reads
// as nothing rather than as a wrong number. Each block is width/16 by height/12.
namespace frame_stamp {

inline constexpr int kBits = 16;
inline constexpr int kRowsDivisor = 12;  // each row is height / 12 tall

// Paints `number` (its low 16 bits) into an 8-bit luma plane. Chroma is left to
// the caller (neutral chroma keeps the blocks pure black and white).
void StampLuma(std::uint8_t* luma, int stride, int width, int height, std::uint32_t number);
// Paints neutral chroma under the blocks of an I420 picture's U and V planes.
void StampChroma(std::uint8_t* u, std::uint8_t* v, int chroma_stride, int width, int height);

// Reads the number back from 32-bit pixels (B, G, R, X in memory, as QImage's
// RGB32 on little-endian machines) by sampling the middle of each block.
std::optional<std::uint16_t> ReadRgb32(const std::uint8_t* pixels, int stride, int width,
                                       int height);

using Clock = std::chrono::steady_clock;

// Process-wide record of capture and paint times, keyed by frame number.
// Writers are the capture and paint paths; cheap and lock-free for them.
void NoteCaptured(std::uint16_t number, Clock::time_point when);
void NotePainted(std::uint16_t number, Clock::time_point when);
std::optional<Clock::time_point> CaptureTime(std::uint16_t number);

struct PaintRecord {
  std::uint16_t number;
  Clock::time_point painted;
  Clock::time_point captured;
};
// Called on every paint that read a stamp (on the window's thread); null to stop.
using PaintObserver = void (*)(const PaintRecord& record, void* context);
void SetPaintObserver(PaintObserver observer, void* context);

}  // namespace frame_stamp
