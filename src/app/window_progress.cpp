#include "app/window_progress.hpp"

#include <memory>

#include "app/progress_messages.hpp"
#include "app/taskbar_button.hpp"
#include "app/transfer_progress.hpp"
#include "platform/win32/wide_chars.hpp"
#include "platform/win32/win32_clock.hpp"

namespace quarn::win32 {
namespace {

// Everything here lives on the window's thread; there is one main window.
struct WindowProgress {
  Win32Clock clock;
  TransferProgress progress{clock};
  // Made when the taskbar announces the button, again after the taskbar restarts.
  std::unique_ptr<TaskbarButton> taskbar;
  bool flashing = false;
};

WindowProgress& windowProgress() {
  static WindowProgress state;
  return state;
}

// The taskbar sends this to every top-level window once its button exists.
UINT taskbarButtonCreatedMessage() {
  static const UINT message = RegisterWindowMessageW(L"TaskbarButtonCreated");
  return message;
}

void showView(HWND window, const ProgressView& view) {
  const WideText title = windowTitleFor(view);
  SetWindowTextW(window, wideChars(title));
  WindowProgress& state = windowProgress();
  if (state.taskbar) state.taskbar->show(view);
}

// The user is looking at the window when it, or a window it owns (an error box, the About box),
// is the foreground window.
bool isForeground(HWND window) {
  const HWND foreground = GetForegroundWindow();
  return foreground != nullptr && GetAncestor(foreground, GA_ROOTOWNER) == window;
}

void flashButton(HWND window, DWORD flags) {
  FLASHWINFO flash{};
  flash.cbSize = sizeof(flash);
  flash.hwnd = window;
  flash.dwFlags = flags;
  FlashWindowEx(&flash);
}

// Flashes the taskbar button until the window comes to the foreground.
void askForAttention(HWND window) {
  if (isForeground(window)) return;
  flashButton(window, FLASHW_ALL | FLASHW_TIMERNOFG);
  windowProgress().flashing = true;
}

// Whoever pressed OK has seen the box: the button need not go on asking for them.
void stopFlashing(HWND window) {
  WindowProgress& state = windowProgress();
  if (!state.flashing) return;
  flashButton(window, FLASHW_STOP);
  state.flashing = false;
}

ProgressReaction applyEvent(HWND window, SessionEvent event, ReportCode code) {
  TransferProgress& progress = windowProgress().progress;
  switch (event) {
    case SessionEvent::statusLineAdded:
      return progress.statusLineAdded(code);
    case SessionEvent::errorBoxShown:
      return progress.errorBoxShown();
    case SessionEvent::errorBoxDismissed:
      stopFlashing(window);
      return progress.errorBoxDismissed();
    case SessionEvent::sessionEnded:
      return progress.sessionEnded();
  }
  return {};
}

void react(HWND window, const ProgressReaction& reaction) {
  if (reaction.redraw) showView(window, windowProgress().progress.shown());
  if (reaction.attention) askForAttention(window);
}

// Also shows what a session already running shows: the taskbar may come (back) at any time.
void takeTaskbarButton(HWND window) {
  WindowProgress& state = windowProgress();
  state.taskbar.reset();
  state.taskbar = std::make_unique<TaskbarButton>(window);
  if (!state.taskbar->available()) {
    state.taskbar.reset();
    return;
  }
  state.taskbar->show(state.progress.shown());
}

}  // namespace

bool serveProgressMessage(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case transferProgressMessage:
      react(window, windowProgress().progress.blocksAcknowledged(static_cast<uint32_t>(wParam),
                                                                 static_cast<uint32_t>(lParam)));
      return true;
    case sessionEventMessage:
      react(window,
            applyEvent(window, static_cast<SessionEvent>(wParam), static_cast<ReportCode>(lParam)));
      return true;
    case WM_CREATE:
      // A program run as administrator would otherwise never hear from the taskbar, which
      // runs at the user's normal level.
      ChangeWindowMessageFilterEx(window, taskbarButtonCreatedMessage(), MSGFLT_ALLOW, nullptr);
      return false;
    case WM_DESTROY:
      windowProgress().taskbar.reset();
      return false;
    default:
      break;
  }
  if (message != 0 && message == taskbarButtonCreatedMessage()) {
    takeTaskbarButton(window);
    return true;
  }
  return false;
}

}  // namespace quarn::win32
