#pragma once
#include <windows.h>

namespace quarn::win32 {

// Starts one update session on a new thread with the default stack size and does not wait for
// it. False when the thread could not be started.
bool startUpdateThread(HWND window);

}  // namespace quarn::win32
