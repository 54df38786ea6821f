#include "app/window_outlets.hpp"

#include "platform/win32/wide_chars.hpp"
#include "resources/resource_ids.h"
#include "session/messages.hpp"

namespace quarn::win32 {

// The views the core passes need not end in a terminator; the window functions need one.
void WindowOutlets::appendStatusLine(ReportCode, WideView text) {
  const WideText line(text);
  SendMessageW(GetDlgItem(window_, IDC_STATUS_LOG), LB_ADDSTRING, 0,
               reinterpret_cast<LPARAM>(wideChars(line)));
}

void WindowOutlets::showErrorBox(ReportCode, WideView text) {
  const WideText message(text);
  const WideText caption(messages::errorBoxCaption);
  MessageBoxW(window_, wideChars(message), wideChars(caption), MB_OK);
}

void WindowOutlets::setProgramEnabled(bool enabled) {
  EnableWindow(GetDlgItem(window_, IDC_PROGRAM), enabled ? TRUE : FALSE);
}

}  // namespace quarn::win32
