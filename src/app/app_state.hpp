#pragma once
// Program-wide handles. The entry writes both once, before the message loop runs and before any
// update worker can exist; afterwards they are only read, so they need no lock.
#include <windows.h>

namespace quarn::win32 {

extern HINSTANCE appInstance;
extern HWND mainWindow;

// Names of the window class and of the two dialog templates in the program's resources.
inline constexpr const wchar_t* mainWindowClassName = L"USB3_FWUPDATE";
inline constexpr const wchar_t* mainTemplateName = L"USB3_FWUPDATE";
inline constexpr const wchar_t* aboutTemplateName = L"ABOUTBOX";

}  // namespace quarn::win32
