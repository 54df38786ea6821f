#include "cli/posix/posix_cli_platform.hpp"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <filesystem>

namespace quarn::cli::posix {
namespace {

std::string environmentOr(const char* name, const char* fallback) {
  const char* value = std::getenv(name);
  return value && *value ? value : fallback;
}

// Each line goes out in one write(2) (repeated only for what a short write left) with no buffer
// of the program's own, so a session that is killed leaves every line written so far.
class FileTraceSink : public TraceSink {
 public:
  explicit FileTraceSink(int fd) : fd_(fd) {}
  ~FileTraceSink() override { close(fd_); }
  FileTraceSink(const FileTraceSink&) = delete;
  FileTraceSink& operator=(const FileTraceSink&) = delete;
  void writeLine(std::string_view line) override {
    while (!line.empty()) {
      const ssize_t written = ::write(fd_, line.data(), line.size());
      if (written < 0 && errno == EINTR) continue;
      if (written <= 0) return;
      line.remove_prefix(static_cast<size_t>(written));
    }
  }

 private:
  int fd_;
};

}  // namespace

PosixCliPlatform::PosixCliPlatform()
    : out_(STDOUT_FILENO),
      err_(STDERR_FILENO),
      devices_(environmentOr("QUARN_SYSFS_ROOT", "/sys"), environmentOr("QUARN_DEV_ROOT", "/dev")),
      sessionThread_(pthread_self()) {}

WideText PosixCliPlatform::currentDirectory() {
  std::error_code error;
  const std::filesystem::path directory = std::filesystem::current_path(error);
  return error ? WideText() : fromPathBytes(directory.string());
}

std::optional<std::string> PosixCliPlatform::hostName() {
  char name[256] = {};
  // A name that fills the buffer may come without its terminator: the last byte stays zero.
  if (gethostname(name, sizeof name - 1) != 0 || name[0] == '\0') return std::nullopt;
  return std::string(name);
}

void PosixCliPlatform::wakeSessionThread() {
  pthread_kill(sessionThread_, wakeSignal);
}

std::optional<OpenFailureHint> PosixCliPlatform::explainOpenFailure(const std::string& port) {
  const int error = ports_.lastOpenError();
  if (error == EACCES || error == EPERM) {
    return OpenFailureHint{
        "portPermission",
        "no permission to open " + port +
            ". Install the quarn-update package (its udev rule opens the tester to the "
            "logged-in user), or add your user to the 'dialout' group (sudo usermod -aG dialout "
            "$USER, then log in again)."};
  }
  if (error == EWOULDBLOCK || error == EBUSY) {
    return OpenFailureHint{"portBusy", port + " is in use by another program."};
  }
  return std::nullopt;
}

std::unique_ptr<TraceSink> PosixCliPlatform::createTraceFile(const std::string& path) {
  const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC | O_NOCTTY, 0644);
  if (fd < 0) return nullptr;
  return std::make_unique<FileTraceSink>(fd);
}

std::string PosixCliPlatform::osErrorName(uint32_t osError) const {
  if (const char* name = strerrorname_np(static_cast<int>(osError))) return name;
  return std::to_string(osError);
}

const HelpFlavour& PosixCliPlatform::helpFlavour() const {
  static const HelpFlavour flavour{
      "quarn-update",
      "                 a device such as /dev/ttyACM0; without it, the USB serial device\n"
      "                 whose product string contains \"Zentrika QUARN\"\n",
      "  Ctrl-C (SIGINT), SIGTERM or SIGHUP during an update closes the port and ends the\n"
      "  program with exit code 130 at once. If the tester had been restarted into its\n"
      "  bootloader it stays there: run the update again.\n",
      "\n"
      "Test hooks:\n"
      "  QUARN_SYSFS_ROOT=DIR, QUARN_DEV_ROOT=DIR  look for serial devices in a made-up sysfs\n"
      "                 tree and device directory instead of /sys and /dev (for tests only)\n"};
  return flavour;
}

}  // namespace quarn::cli::posix
