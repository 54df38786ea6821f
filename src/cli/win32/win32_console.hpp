#pragma once
// Standard output and error, and a lock, for the command line on Windows.
#include <windows.h>

#include "cli/console_seams.hpp"

namespace quarn::cli::win32 {

// A console gets UTF-16 through WriteConsoleW, so every character shows whatever the console's
// code page; a file or a pipe gets the UTF-8 bytes, as scripts and JSON readers expect.
class StandardStream : public OutputStream {
 public:
  explicit StandardStream(DWORD standardHandle);
  void write(std::string_view utf8) override;
  bool isTerminal() const override { return console_; }

 private:
  HANDLE handle_;
  bool console_;
};

class CriticalSectionMutex : public CliMutex {
 public:
  CriticalSectionMutex() { InitializeCriticalSection(&section_); }
  ~CriticalSectionMutex() override { DeleteCriticalSection(&section_); }
  CriticalSectionMutex(const CriticalSectionMutex&) = delete;
  CriticalSectionMutex& operator=(const CriticalSectionMutex&) = delete;
  void lock() override { EnterCriticalSection(&section_); }
  void unlock() override { LeaveCriticalSection(&section_); }

 private:
  CRITICAL_SECTION section_;
};

}  // namespace quarn::cli::win32
