#pragma once
#include <windows.h>

namespace quarn::win32 {

INT_PTR CALLBACK aboutBoxProc(HWND box, UINT message, WPARAM wParam, LPARAM lParam);

}  // namespace quarn::win32
