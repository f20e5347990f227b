#include "platform/com/window_message.h"

#include <atomic>

namespace {
std::atomic<WindowMessagePoster> g_poster{nullptr};
}

void SetWindowMessagePoster(WindowMessagePoster poster) { g_poster.store(poster); }

bool PostWindowMessage(OAHWND window, std::uint32_t message, WPARAM wparam, LPARAM lparam) {
  const WindowMessagePoster poster = g_poster.load();
  return poster && window != 0 && poster(window, message, wparam, lparam);
}
