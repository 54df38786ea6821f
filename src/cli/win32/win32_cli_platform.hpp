#pragma once
// The command line's platform on Windows: the same adapters as the window program (SetupAPI
// discovery, the COM port, Win32 package files and clock).
#include <windows.h>

#include "cli/cli_platform.hpp"
#include "cli/win32/win32_console.hpp"
#include "platform/win32/comm_port.hpp"
#include "platform/win32/setupapi_device_catalog.hpp"
#include "platform/win32/win32_clock.hpp"
#include "platform/win32/win32_package_files.hpp"

namespace quarn::cli::win32 {

class Win32CliPlatform : public CliPlatform {
 public:
  // The calling thread is the session thread.
  Win32CliPlatform();
  ~Win32CliPlatform() override;
  Win32CliPlatform(const Win32CliPlatform&) = delete;
  Win32CliPlatform& operator=(const Win32CliPlatform&) = delete;

  OutputStream& out() override { return out_; }
  OutputStream& err() override { return err_; }
  std::unique_ptr<CliMutex> makeMutex() override;
  Clock& clock() override { return clock_; }
  DeviceCatalog& presentDevices() override { return devices_; }
  WideText devicePathPrefix() const override { return devices_.devicePathPrefix(); }
  PortOpener& ports() override { return ports_; }
  PackageFileSystem& packageFiles() override { return files_; }
  WideText currentDirectory() override;
  void wakeSessionThread() override;
  const HelpFlavour& helpFlavour() const override;
  std::unique_ptr<TraceSink> createTraceFile(const std::string& path) override;
  const char* systemName() const override { return "windows"; }
  std::string osErrorName(uint32_t osError) const override { return std::to_string(osError); }
  std::optional<std::string> hostName() override;

 private:
  StandardStream out_{STD_OUTPUT_HANDLE};
  StandardStream err_{STD_ERROR_HANDLE};
  quarn::win32::Win32Clock clock_;
  quarn::win32::SetupApiDeviceCatalog devices_;
  quarn::win32::CommPortOpener ports_;
  // Shared reading (issue 16, item 6): the window program alone keeps the exclusive read.
  quarn::win32::Win32PackageFiles files_{quarn::win32::PackageSharing::sharedRead};
  HANDLE sessionThread_ = nullptr;  // a real handle (not the pseudo handle) for other threads
};

}  // namespace quarn::cli::win32
