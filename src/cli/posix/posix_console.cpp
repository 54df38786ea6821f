#include "cli/posix/posix_console.hpp"

#include <unistd.h>

#include <cerrno>

namespace quarn::cli::posix {

DescriptorStream::DescriptorStream(int fd) : fd_(fd), terminal_(isatty(fd) == 1) {}

void DescriptorStream::write(std::string_view utf8) {
  while (!utf8.empty()) {
    const ssize_t n = ::write(fd_, utf8.data(), utf8.size());
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return;  // a closed pipe: the run goes on, and its exit code still tells
    utf8.remove_prefix(static_cast<size_t>(n));
  }
}

}  // namespace quarn::cli::posix
