#include "app/about_box.hpp"

namespace quarn::win32 {

INT_PTR CALLBACK aboutBoxProc(HWND box, UINT message, WPARAM wParam, LPARAM) {
  switch (message) {
    case WM_INITDIALOG:
      return TRUE;  // the dialog manager then focuses the first tab stop, the OK button
    case WM_COMMAND: {
      const auto command = static_cast<WORD>(wParam & 0xFFFF);
      // IDOK comes from the OK button and Enter, IDCANCEL from Esc and the close box.
      if (command != IDOK && command != IDCANCEL) return FALSE;
      EndDialog(box, 0);
      return TRUE;
    }
    default:
      return FALSE;
  }
}

}  // namespace quarn::win32
