#include "app/update_thread.hpp"

#include <process.h>

#include "app/app_state.hpp"
#include "app/window_outlets.hpp"
#include "platform/win32/comm_port.hpp"
#include "platform/win32/setupapi_device_catalog.hpp"
#include "platform/win32/win32_clock.hpp"
#include "platform/win32/win32_package_files.hpp"
#include "session/update_worker.hpp"

namespace quarn::win32 {
namespace {

// The argument is mainWindow, as the thread start passes it; the worker reaches the window through
// the program-wide handle instead, like every other part of the program.
unsigned __stdcall updateThreadMain(void*) {
  WindowOutlets outlets(mainWindow);
  SetupApiDeviceCatalog devices;
  CommPortOpener ports;
  Win32PackageFiles files;
  Win32Clock clock;
  SessionPlatform platform{outlets, devices, ports, files, clock};
  updateWorker(platform);
  return 0;
}

}  // namespace

bool startUpdateThread(HWND window) {
  const uintptr_t thread = _beginthreadex(nullptr, 0, updateThreadMain, window, 0, nullptr);
  if (thread == 0) return false;
  // Nobody waits for the worker: it ends on its own, or with the process.
  CloseHandle(reinterpret_cast<HANDLE>(thread));
  return true;
}

}  // namespace quarn::win32
