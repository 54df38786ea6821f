#pragma once
// What the command line needs of the console around it, given by each system's entry.
#include <string_view>

namespace quarn::cli {

// Standard output or standard error.
class OutputStream {
 public:
  virtual ~OutputStream() = default;
  // Writes UTF-8 text at once (no buffering left behind); the stream shows it in the console's
  // own encoding.
  virtual void write(std::string_view utf8) = 0;
  // A terminal or console window, where a progress bar can be redrawn in place.
  virtual bool isTerminal() const = 0;
};

// A plain lock (the Windows toolchain's C++ library has no std::mutex). Lockable with
// std::lock_guard.
class CliMutex {
 public:
  virtual ~CliMutex() = default;
  virtual void lock() = 0;
  virtual void unlock() = 0;
};

}  // namespace quarn::cli
