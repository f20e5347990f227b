#pragma once

#include <gst/gst.h>

#include <cstdint>
#include <functional>
#include <optional>

// For a buffer probe on a raw I420 pad (a stock sender's videotestsrc): stamps
// the frame passing by with a number, as our camera stamps its own, so the far
// end can read it back. `next_number` is asked only once the frame is mapped.
// The number stamped, or nothing when the buffer could not be read as video.
std::optional<std::uint16_t> StampProbedFrame(GstPad* pad, GstPadProbeInfo* info,
                                              const std::function<std::uint16_t()>& next_number);
