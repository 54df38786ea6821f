#pragma once
// The main window as the session's outlets: the status log (control 1005), the error box owned
// by the window, and the PROGRAM button. Safe to use from the worker thread: each call is a
// message that the window's own thread serves while the caller waits. The transfer's progress
// and the session's events are only posted to the window, which shows them on its taskbar
// button and in its title.
#include <windows.h>

#include "app/transfer_progress.hpp"
#include "session/status_outlets.hpp"

namespace quarn::win32 {

class WindowOutlets : public StatusOutlets {
 public:
  explicit WindowOutlets(HWND window) : window_(window) {}

  void appendStatusLine(ReportCode code, WideView text) override;
  void showErrorBox(ReportCode code, WideView text) override;
  void setProgramEnabled(bool enabled) override;
  void reportTransferProgress(uint32_t bytesAcknowledged, uint32_t imageLength) override;

 private:
  HWND window_;
  ProgressPostFilter progressPosts_;
};

}  // namespace quarn::win32
