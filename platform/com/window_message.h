#pragma once

#include <cstdint>

// Windows and posted messages, as the interfaces speak of them. A window handle
// is a QObject* (a QWidget* for visible windows) as a number.
using OAHWND = std::intptr_t;
using WPARAM = std::uintptr_t;
using LPARAM = std::intptr_t;
using LONG_PTR = std::intptr_t;

inline constexpr std::uint32_t WM_APP = 0x8000;

// How platform code reaches a window from any thread. platform/ui installs a
// poster that turns a message into a posted Qt event; without one nothing is posted.
using WindowMessagePoster = bool (*)(OAHWND window, std::uint32_t message, WPARAM wparam,
                                     LPARAM lparam);
void SetWindowMessagePoster(WindowMessagePoster poster);
// False when no poster is installed or the window is 0.
bool PostWindowMessage(OAHWND window, std::uint32_t message, WPARAM wparam, LPARAM lparam);
