#pragma once
// The one port named with --port, listed as the one present tester so that the session runs
// unchanged: its "found" line names the port, and its path is the platform's device-path prefix
// and the port name ("\\.\COM7" on Windows, the device node itself on Linux).
#include "link/device_list.hpp"

namespace quarn::cli {

class NamedPortCatalog : public DeviceCatalog {
 public:
  // The port as given; a name that already carries the prefix ("\\.\COM7") loses it first.
  NamedPortCatalog(WideView port, WideView devicePathPrefix);
  std::unique_ptr<DeviceList> listPresentPorts() override;
  WideText devicePathPrefix() const override { return prefix_; }

  const WideText& portName() const { return portName_; }

 private:
  WideText portName_;
  WideText prefix_;
};

}  // namespace quarn::cli
