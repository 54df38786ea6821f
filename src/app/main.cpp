// Program entry: registers the main window's class, creates the main dialog from its template,
// writes the version banner and runs the message loop until a quit is posted.
#include <windows.h>

#include "app/app_state.hpp"
#include "app/main_window.hpp"
#include "app/version_banner.hpp"
#include "platform/win32/dll_search.hpp"
#include "platform/win32/wide_chars.hpp"
#include "resources/resource_ids.h"
#include "session/messages.hpp"

namespace quarn::win32 {
namespace {

// Exit code of a start that never reached the message loop, or of a loop ended by a failing
// fetch instead of a quit message.
constexpr int failureExitCode = 1;

bool registerMainWindowClass(HINSTANCE instance) {
  WNDCLASSEXW windowClass{};
  windowClass.cbSize = sizeof(windowClass);
  windowClass.style = CS_HREDRAW | CS_VREDRAW;
  windowClass.lpfnWndProc = mainWindowProc;
  windowClass.cbClsExtra = 0;
  // The dialog manager keeps its own data in every window built from a dialog template.
  windowClass.cbWndExtra = DLGWINDOWEXTRA;
  windowClass.hInstance = instance;
  windowClass.hIcon = LoadIconW(instance, MAKEINTRESOURCEW(IDI_PROGRAM));
  windowClass.hCursor = LoadCursorW(nullptr, IDC_ARROW);
  windowClass.hbrBackground = reinterpret_cast<HBRUSH>(static_cast<INT_PTR>(COLOR_BTNFACE + 1));
  windowClass.lpszMenuName = nullptr;
  windowClass.lpszClassName = mainWindowClassName;
  windowClass.hIconSm = nullptr;  // the system takes the small image from the same icon group
  return RegisterClassExW(&windowClass) != 0;
}

int reportStartupFailure(WideView text) {
  const WideText message(text);
  const WideText caption(messages::errorBoxCaption);
  MessageBoxW(nullptr, wideChars(message), wideChars(caption), MB_OK | MB_ICONERROR);
  return failureExitCode;
}

int runMessageLoop() {
  MSG message{};
  for (;;) {
    const BOOL fetched = GetMessageW(&message, nullptr, 0, 0);
    if (fetched == 0) return static_cast<int>(message.wParam);
    if (fetched == -1) return failureExitCode;
    // The dialog manager turns Tab, Enter and Esc into focus moves and commands.
    if (IsDialogMessageW(mainWindow, &message)) continue;
    TranslateMessage(&message);
    DispatchMessageW(&message);
  }
}

int runApplication(HINSTANCE instance, int showMode) {
  appInstance = instance;
  if (!registerMainWindowClass(instance)) {
    return reportStartupFailure(messages::windowClassFailed);
  }
  // No dialog procedure: the class's procedure receives the dialog's messages.
  mainWindow = CreateDialogParamW(instance, mainTemplateName, nullptr, nullptr, 0);
  if (mainWindow == nullptr) return reportStartupFailure(messages::mainWindowFailed);
  // The banner lines are in the log before the window is first shown.
  writeVersionBanner();
  ShowWindow(mainWindow, showMode);
  return runMessageLoop();
}

}  // namespace
}  // namespace quarn::win32

// Leaving the program does not wait for a running update session. Returning from here would
// hand the exit to the C runtime, which runs its atexit work (the destructors of program-wide
// objects among it) while the worker thread still runs. ExitProcess first ends every other thread
// of the process and only then lets the runtime and the DLLs clean up, so no clean-up ever runs
// beside the worker; the program-wide state the worker touches has no destructors anyway (the
// package buffers assert it).
int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int showMode) {
  quarn::win32::restrictDllSearchToSystem32();
  ExitProcess(static_cast<UINT>(quarn::win32::runApplication(instance, showMode)));
}
