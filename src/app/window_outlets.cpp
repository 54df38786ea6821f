#include "app/window_outlets.hpp"

#include "app/progress_messages.hpp"
#include "platform/win32/wide_chars.hpp"
#include "resources/resource_ids.h"
#include "session/messages.hpp"

namespace quarn::win32 {
namespace {

// A lost post (the window's queue full) costs a step of the progress view, never the session.
void postSessionEvent(HWND window, SessionEvent event, ReportCode code = {}) {
  PostMessageW(window, sessionEventMessage, static_cast<WPARAM>(event), static_cast<LPARAM>(code));
}

}  // namespace

// The views the core passes need not end in a terminator; the window functions need one.
void WindowOutlets::appendStatusLine(ReportCode code, WideView text) {
  const WideText line(text);
  SendMessageW(GetDlgItem(window_, IDC_STATUS_LOG), LB_ADDSTRING, 0,
               reinterpret_cast<LPARAM>(wideChars(line)));
  postSessionEvent(window_, SessionEvent::statusLineAdded, code);
}

void WindowOutlets::showErrorBox(ReportCode, WideView text) {
  const WideText message(text);
  const WideText caption(messages::errorBoxCaption);
  postSessionEvent(window_, SessionEvent::errorBoxShown);
  MessageBoxW(window_, wideChars(message), wideChars(caption), MB_OK);
  postSessionEvent(window_, SessionEvent::errorBoxDismissed);
}

// The session's common end is the one caller that enables PROGRAM. Its end is posted before the
// button can be pressed again, so a next session's progress always follows it.
void WindowOutlets::setProgramEnabled(bool enabled) {
  if (enabled) postSessionEvent(window_, SessionEvent::sessionEnded);
  EnableWindow(GetDlgItem(window_, IDC_PROGRAM), enabled ? TRUE : FALSE);
}

void WindowOutlets::reportTransferProgress(uint32_t bytesAcknowledged, uint32_t imageLength) {
  if (!progressPosts_.worthPosting(bytesAcknowledged, imageLength, GetTickCount64())) return;
  PostMessageW(window_, transferProgressMessage, static_cast<WPARAM>(bytesAcknowledged),
               static_cast<LPARAM>(imageLength));
}

}  // namespace quarn::win32
