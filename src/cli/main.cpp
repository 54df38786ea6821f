// quarn-update: brings a connected tester (or the simulated one) to the firmware package that
// lies beside the program, or in the directory given with --package.
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <optional>
#include <string>

#include "cli/console_outlets.hpp"
#include "cli/exit_codes.hpp"
#include "platform/posix/posix_clock.hpp"
#include "platform/posix/posix_package_files.hpp"
#include "platform/posix/sysfs_device_catalog.hpp"
#include "platform/posix/termios_port.hpp"
#include "session/update_worker.hpp"

namespace {

struct Options {
  std::optional<std::string> port;
  std::optional<std::string> packageDirectory;
};

void printHelp() {
  std::printf(
      "Usage: quarn-update [--port PATH] [--package DIR]\n"
      "Brings the one connected Zentrika Quarn tester to the firmware in QUARN.bin and\n"
      "metadata.json: checks the package, restarts the tester into its bootloader and\n"
      "sends the image.\n\n"
      "  --port PATH     use this serial device instead of looking for the tester\n"
      "  --package DIR   take QUARN.bin and metadata.json from DIR (default: the\n"
      "                  directory of this program)\n"
      "  --help          show this text\n"
      "  --version       show the program's version\n\n"
      "Exit codes:\n%s",
      quarn::cli::exitCodeHelp());
}

// Takes "--name VALUE" or "--name=VALUE"; gives nothing (and sets the exit code) when the
// program should stop at once: help, version, or a wrong option.
std::optional<Options> parseOptions(int argc, char** argv, int& exitCode) {
  Options options;
  for (int i = 1; i < argc; ++i) {
    std::string name = argv[i];
    std::optional<std::string> inlineValue;
    if (const size_t equals = name.find('=');
        name.rfind("--", 0) == 0 && equals != std::string::npos) {
      inlineValue = name.substr(equals + 1);
      name.resize(equals);
    }
    if (name == "--help" || name == "-h") {
      printHelp();
      exitCode = quarn::cli::exitComplete;
      return std::nullopt;
    }
    if (name == "--version") {
      std::printf("quarn-update %s\n", QUARN_VERSION);
      exitCode = quarn::cli::exitComplete;
      return std::nullopt;
    }
    std::optional<std::string>* target = name == "--port"      ? &options.port
                                         : name == "--package" ? &options.packageDirectory
                                                               : nullptr;
    if (!target) {
      std::fprintf(stderr, "quarn-update: unknown option '%s' (see --help)\n", argv[i]);
      exitCode = quarn::cli::exitUsage;
      return std::nullopt;
    }
    if (!inlineValue && i + 1 < argc) inlineValue = argv[++i];
    if (!inlineValue || inlineValue->empty()) {
      std::fprintf(stderr, "quarn-update: %s needs a value (see --help)\n", name.c_str());
      exitCode = quarn::cli::exitUsage;
      return std::nullopt;
    }
    *target = inlineValue;
  }
  return options;
}

void explainOpenFailure(int error, const std::string& what) {
  if (error == EACCES || error == EPERM) {
    std::fprintf(stderr,
                 "quarn-update: no permission to open %s. Add your user to the 'dialout' group\n"
                 "  (sudo usermod -aG dialout $USER, then log in again), or install the udev rule\n"
                 "  dist/linux/60-zentrika-quarn.rules into /etc/udev/rules.d/.\n",
                 what.c_str());
  } else if (error == EWOULDBLOCK || error == EBUSY) {
    std::fprintf(stderr, "quarn-update: %s is in use by another program.\n", what.c_str());
  }
}

}  // namespace

int main(int argc, char** argv) {
  int exitCode = quarn::cli::exitUsage;
  const std::optional<Options> options = parseOptions(argc, argv, exitCode);
  if (!options) return exitCode;

  quarn::cli::ConsoleOutlets outlets(stdout, stderr, isatty(STDOUT_FILENO) == 1);
  quarn::posix::SysfsDeviceCatalog sysfsDevices;
  std::optional<quarn::posix::GivenPortCatalog> givenPort;
  if (options->port) givenPort.emplace(*options->port);
  quarn::DeviceCatalog& devices =
      givenPort ? static_cast<quarn::DeviceCatalog&>(*givenPort) : sysfsDevices;
  quarn::posix::TermiosPortOpener ports;
  quarn::posix::PosixPackageFiles files(options->packageDirectory);
  quarn::posix::PosixClock clock;
  quarn::SessionPlatform platform{outlets, devices, ports, files, clock};

  quarn::updateWorker(platform);

  const int code = quarn::cli::exitCodeForReport(outlets.lastReport());
  if (code == quarn::cli::exitPortNotOpened)
    explainOpenFailure(ports.lastOpenError(), options->port.value_or("the tester's port"));
  return code;
}
