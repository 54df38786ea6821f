#pragma once
// The command line's platform on Linux: sysfs discovery, termios ports, POSIX package files.
#include <pthread.h>

#include <csignal>

#include "cli/cli_platform.hpp"
#include "cli/posix/posix_console.hpp"
#include "platform/posix/posix_clock.hpp"
#include "platform/posix/posix_package_files.hpp"
#include "platform/posix/sysfs_device_catalog.hpp"
#include "platform/posix/termios_port.hpp"

namespace quarn::cli::posix {

// The signal that wakes the session thread out of a blocking poll (its handler does nothing).
inline constexpr int wakeSignal = SIGUSR1;

class PosixCliPlatform : public CliPlatform {
 public:
  // The sysfs and /dev roots are the real ones unless QUARN_SYSFS_ROOT and QUARN_DEV_ROOT name
  // a made-up tree (a test hook). The calling thread is the session thread.
  PosixCliPlatform();

  OutputStream& out() override { return out_; }
  OutputStream& err() override { return err_; }
  std::unique_ptr<CliMutex> makeMutex() override { return std::make_unique<StdMutex>(); }
  Clock& clock() override { return clock_; }
  DeviceCatalog& presentDevices() override { return devices_; }
  WideText devicePathPrefix() const override { return {}; }
  PortOpener& ports() override { return ports_; }
  PackageFileSystem& packageFiles() override { return files_; }
  WideText currentDirectory() override;
  void wakeSessionThread() override;
  std::optional<OpenFailureHint> explainOpenFailure(const std::string& port) override;
  const HelpFlavour& helpFlavour() const override;
  std::unique_ptr<TraceSink> createTraceFile(const std::string& path) override;
  const char* systemName() const override { return "linux"; }
  std::string osErrorName(uint32_t osError) const override;
  std::optional<std::string> hostName() override;

 private:
  DescriptorStream out_;
  DescriptorStream err_;
  quarn::posix::PosixClock clock_;
  quarn::posix::SysfsDeviceCatalog devices_;
  quarn::posix::TermiosPortOpener ports_;
  quarn::posix::PosixPackageFiles files_;
  pthread_t sessionThread_;
};

}  // namespace quarn::cli::posix
