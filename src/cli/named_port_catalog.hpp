#pragma once
// The one port named with --port, listed as the one present tester so that the session runs
// unchanged: its "found" line names the port, and its path is the platform's device-path prefix
// and the port name ("\\.\COM7" on Windows, the device node itself on Linux). What the platform
// can tell of the port (on Linux the USB location of a USB tty, named directly or through a link)
// comes from the platform's own catalog, so the second opening finds the tester again there.
#include "link/device_list.hpp"

namespace quarn::cli {

class NamedPortCatalog : public DeviceCatalog {
 public:
  // The port as given; a name that already carries the prefix ("\\.\COM7") loses it first.
  // platform: the system's catalog, asked for the port's identity and, after the restart, for
  // the path that opens it now.
  NamedPortCatalog(WideView port, WideView devicePathPrefix, DeviceCatalog& platform);
  std::unique_ptr<DeviceList> listPresentPorts() override;
  WideText devicePathPrefix() const override { return prefix_; }
  UsbIdentity identifyPort(WideView devicePath) override {
    return platform_.identifyPort(devicePath);
  }
  WideText currentDevicePath(WideView devicePath, const UsbIdentity& identity) override {
    return platform_.currentDevicePath(devicePath, identity);
  }

  const WideText& portName() const { return portName_; }

 private:
  WideText portName_;
  WideText prefix_;
  DeviceCatalog& platform_;
};

}  // namespace quarn::cli
