#pragma once
// Serial devices as Linux shows them in sysfs. A USB tty's product string plays the part of the
// bus-reported description, and the list hands over the device node as the port name (the
// friendly name, that string followed by " (/dev/<node>)", is only for showing); the device path
// needs no prefix.
#include <string>
#include <vector>

#include "link/device_list.hpp"

namespace quarn::posix {

struct SysfsTty {
  std::string node;                         // e.g. "ttyACM0"
  bool resolved = false;                    // its device link could be followed
  std::optional<std::string> usbProduct;    // the USB device's product string, if USB
  UsbIdentity usb;                          // of the USB device above it; empty if not USB
  std::optional<std::string> deviceNumber;  // the tty's "dev" file: "major:minor"
};

class SysfsDeviceCatalog : public DeviceCatalog {
 public:
  // sysfsRoot and devRoot are the real ones by default; tests point them at a made-up tree.
  explicit SysfsDeviceCatalog(std::string sysfsRoot = "/sys", std::string devRoot = "/dev");
  std::unique_ptr<DeviceList> listPresentPorts() override;
  WideText devicePathPrefix() const override { return {}; }
  // A path that opens a USB tty (its node, or a link to it such as /dev/serial/by-id/...): the
  // identity of the tty whose "dev" file holds the node's device number. Matched by number, not
  // by name, since links and renamed nodes carry other names.
  UsbIdentity identifyPort(WideView devicePath) override;
  // For a tester with a USB location: the node of the tty now beneath that location (any tty
  // beneath it is the tester's), and devicePath while there is none.
  WideText currentDevicePath(WideView devicePath, const UsbIdentity& identity) override;

  // The tty devices backed by hardware, sorted by node name.
  std::vector<SysfsTty> scanTtys() const;

 private:
  std::string sysfsRoot_;
  std::string devRoot_;
};

}  // namespace quarn::posix
