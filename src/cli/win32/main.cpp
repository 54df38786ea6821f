// quarn-update.exe: the command line on Windows. It runs on the main thread; the console's
// control events (Ctrl-C, Ctrl-Break, the window closed, log-off, shut-down) arrive on a thread
// of the system's, whose handler interrupts the run and ends the process.
#include <windows.h>

#include <string>
#include <vector>

#include "cli/command_line.hpp"
#include "cli/exit_codes.hpp"
#include "cli/win32/win32_cli_platform.hpp"

namespace {

// Written once, before the handler is installed; read only by the handler.
quarn::cli::CommandLine* runningCommandLine = nullptr;

BOOL WINAPI onConsoleControl(DWORD) {
  // Every event ends the run the same way. A second event while the first is handled, or one
  // after the run has finished, finds the output ended and changes nothing.
  if (runningCommandLine->interrupt()) ExitProcess(quarn::cli::exitInterrupted);
  return TRUE;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  // DLLs are loaded from System32 only, never from the folder the program was unpacked into.
  SetDefaultDllDirectories(LOAD_LIBRARY_SEARCH_SYSTEM32);
  quarn::cli::win32::Win32CliPlatform platform;
  std::vector<std::string> arguments;
  for (int i = 1; i < argc; ++i) {
    arguments.push_back(quarn::toUtf8(reinterpret_cast<const char16_t*>(argv[i])));
  }
  quarn::cli::CommandLine commandLine(platform, arguments);
  runningCommandLine = &commandLine;
  SetConsoleCtrlHandler(onConsoleControl, TRUE);
  const int code = commandLine.run();
  // Interrupted: the handler has written the result and ends the process.
  if (code == quarn::cli::exitInterrupted) Sleep(INFINITE);
  // A control event may still come while the program ends, and its handler must not find the
  // command line gone: the process ends here, with everything already written, and nothing is
  // torn down under the handler.
  ExitProcess(static_cast<UINT>(code));
}
