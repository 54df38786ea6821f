#pragma once
// The main window's view of a running session, served on the window's thread: the worker's
// posted progress and events go through TransferProgress, whose view is mapped onto the title,
// the taskbar button, and a flash of the button when a final report arrives unseen.
#include <windows.h>

namespace quarn::win32 {

// Serves the worker's progress messages and the taskbar's announcement of the button; true when
// the message was one of them (the window procedure then returns 0). It also sees WM_CREATE and
// WM_DESTROY go by, to prepare for the announcement and to let the taskbar go, and leaves them
// to the window procedure.
bool serveProgressMessage(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

}  // namespace quarn::win32
