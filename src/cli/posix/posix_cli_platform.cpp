#include "cli/posix/posix_cli_platform.hpp"

#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <filesystem>

namespace quarn::cli::posix {
namespace {

std::string environmentOr(const char* name, const char* fallback) {
  const char* value = std::getenv(name);
  return value && *value ? value : fallback;
}

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
