#pragma once
#include <windows.h>

namespace quarn::win32 {

// Procedure of the window class USB3_FWUPDATE: the main dialog has no dialog procedure of its
// own, so everything it does not handle goes to the default window handling.
LRESULT CALLBACK mainWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

}  // namespace quarn::win32
