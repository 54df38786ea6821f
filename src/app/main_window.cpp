#include "app/main_window.hpp"

#include "app/about_box.hpp"
#include "app/app_state.hpp"
#include "app/update_thread.hpp"
#include "app/window_progress.hpp"
#include "resources/resource_ids.h"

namespace quarn::win32 {
namespace {

// No control carries this id; the command ends the program as Exit does.
constexpr WORD quitCommand = 16;

// The button stays disabled for the whole session: that alone keeps a second session from
// starting while one runs. The worker enables it again at its end.
void startProgramming(HWND window) {
  const HWND program = GetDlgItem(window, IDC_PROGRAM);
  EnableWindow(program, FALSE);
  if (!startUpdateThread(mainWindow)) EnableWindow(program, TRUE);
}

void showAboutBox() {
  DialogBoxParamW(appInstance, aboutTemplateName, mainWindow, aboutBoxProc, 0);
}

// Every id not listed, the OK and Cancel the dialog manager makes of Enter and Esc and the
// status log's notifications among them, is swallowed.
void runCommand(HWND window, WORD command) {
  switch (command) {
    case IDC_PROGRAM:
      startProgramming(window);
      break;
    case IDC_EXIT:
    case quitCommand:
      PostQuitMessage(0);
      break;
    case IDC_ABOUT:
      showAboutBox();
      break;
    default:
      break;
  }
}

}  // namespace

LRESULT CALLBACK mainWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (serveProgressMessage(window, message, wParam, lParam)) return 0;
  switch (message) {
    case WM_COMMAND:
      runCommand(window, static_cast<WORD>(wParam & 0xFFFF));
      return 0;
    case WM_DESTROY:
      PostQuitMessage(0);
      return 0;
    case WM_SHOWWINDOW:
      return 0;
    default:
      return DefWindowProcW(window, message, wParam, lParam);
  }
}

}  // namespace quarn::win32
