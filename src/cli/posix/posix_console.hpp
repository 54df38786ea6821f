#pragma once
// Standard output and error, and a lock, for the command line on Linux.
#include <mutex>

#include "cli/console_seams.hpp"

namespace quarn::cli::posix {

// Writes straight to the descriptor: nothing waits in a buffer when the process ends at once
// after an interruption.
class DescriptorStream : public OutputStream {
 public:
  explicit DescriptorStream(int fd);
  void write(std::string_view utf8) override;
  bool isTerminal() const override { return terminal_; }

 private:
  int fd_;
  bool terminal_;
};

class StdMutex : public CliMutex {
 public:
  void lock() override { mutex_.lock(); }
  void unlock() override { mutex_.unlock(); }

 private:
  std::mutex mutex_;
};

}  // namespace quarn::cli::posix
