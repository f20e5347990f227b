#include "platform/dshow/gst_ref.h"

#include <mutex>

void EnsureGStreamer() {
  static std::once_flag once;
  // Nothing of ours takes GStreamer's command-line options: the program's own
  // arguments are not handed over.
  std::call_once(once, [] { gst_init(nullptr, nullptr); });
}
