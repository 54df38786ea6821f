#include "platform/posix/posix_package_files.hpp"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <utility>
#include <vector>

namespace quarn::posix {
namespace {

class FileDescriptor {
 public:
  explicit FileDescriptor(int fd) : fd_(fd) {}
  ~FileDescriptor() {
    if (fd_ >= 0) ::close(fd_);
  }
  FileDescriptor(const FileDescriptor&) = delete;
  FileDescriptor& operator=(const FileDescriptor&) = delete;
  int get() const { return fd_; }

 private:
  int fd_;
};

class PosixPackageFile : public PackageFile {
 public:
  explicit PosixPackageFile(int fd) : fd_(fd) {}

  std::optional<uint32_t> size() override {
    struct stat status {};
    // Only a regular file has a size worth reading whole; a directory or device does not.
    if (::fstat(fd_.get(), &status) != 0 || !S_ISREG(status.st_mode)) return std::nullopt;
    return static_cast<uint32_t>(static_cast<uint64_t>(status.st_size) & 0xFFFFFFFFu);
  }

  // One logical read: interrupted and short reads are continued until count bytes or the end.
  uint32_t read(uint8_t* destination, uint32_t count) override {
    uint32_t total = 0;
    while (total < count) {
      const ssize_t got = ::read(fd_.get(), destination + total, count - total);
      if (got < 0 && errno == EINTR) continue;
      if (got <= 0) break;
      total += static_cast<uint32_t>(got);
    }
    return total;
  }

 private:
  FileDescriptor fd_;
};

}  // namespace

PosixPackageFiles::PosixPackageFiles(std::optional<std::string> packageDirectory)
    : packageDirectory_(std::move(packageDirectory)) {
  if (packageDirectory_ && packageDirectory_->empty()) packageDirectory_.reset();
}

WideText PosixPackageFiles::programFilePath() {
  // A file name inside the chosen directory, so that the last-separator rule yields the directory.
  if (packageDirectory_) return fromPathBytes(*packageDirectory_ + "/quarn-update");
  std::vector<char> buffer(256);
  for (;;) {
    const ssize_t length = ::readlink("/proc/self/exe", buffer.data(), buffer.size());
    if (length < 0) return {};
    if (static_cast<size_t>(length) < buffer.size()) {
      return fromPathBytes(std::string_view(buffer.data(), static_cast<size_t>(length)));
    }
    buffer.resize(buffer.size() * 2);  // the path may have been cut: try again with more room
  }
}

std::unique_ptr<PackageFile> PosixPackageFiles::openForReading(WideView path) {
  // O_NONBLOCK keeps a FIFO in the package's place from hanging the open; it changes nothing
  // for a regular file, and anything else is refused when its size is asked for.
  const int fd = ::open(toPathBytes(path).c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
  if (fd < 0) return nullptr;
  auto file = std::make_unique<PosixPackageFile>(fd);
  // A shared lock: other readers (a --check in a parallel CI job, a second updater) read the same
  // package at the same time, while a writer's exclusive lock still keeps the file from us.
  if (::flock(fd, LOCK_SH | LOCK_NB) != 0) return nullptr;  // being written by another program
  return file;
}

}  // namespace quarn::posix
