#pragma once
// The private messages by which the update worker tells the main window how the session goes.
// The worker only posts them, so it never waits for the window or reaches into COM; the window's
// own thread serves them in the order they were posted.
#include <windows.h>

namespace quarn::win32 {

// wParam: bytes acknowledged so far; lParam: the image length. Both 32-bit values.
inline constexpr UINT transferProgressMessage = WM_APP + 1;
// wParam: a SessionEvent; lParam: the report code of a status line.
inline constexpr UINT sessionEventMessage = WM_APP + 2;

enum class SessionEvent : WPARAM {
  statusLineAdded,
  errorBoxShown,
  errorBoxDismissed,
  sessionEnded
};

}  // namespace quarn::win32
