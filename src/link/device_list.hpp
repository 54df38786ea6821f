#pragma once
// The platform's list of present serial-port devices, as discovery walks it. Each query works on
// the device chosen by the last selectDevice, so the order of platform calls is discovery's own.
#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "session/text.hpp"

namespace quarn {

// What the bus tells of a serial device beyond its port, for picking one tester among several and
// for finding it again after it restarts. A field the platform cannot tell stays empty; nothing
// is guessed.
struct UsbIdentity {
  std::optional<uint16_t> vendorId;
  std::optional<uint16_t> productId;
  std::optional<std::string> serialNumber;  // UTF-8, as the device reports it
  // Where the device sits on the bus, which stays when the device restarts: the USB device's
  // sysfs name on Linux ("1-1.2"), the first location path on Windows.
  std::optional<std::string> location;
};

class DeviceList {
 public:
  virtual ~DeviceList() = default;  // releases the list

  // Makes the device at this index current; false ends the enumeration, whatever the reason.
  virtual bool selectDevice(uint32_t memberIndex) = 0;
  virtual bool readInstanceId() = 0;
  virtual std::optional<WideText> readBusReportedDescription() = 0;
  virtual std::optional<WideText> readFriendlyName() = 0;
  // The current device's port name. As the device installer reports it, that is the text in the
  // parentheses of the friendly name (portNameFromFriendlyName); a list that knows the port
  // itself (a Linux device node) hands it over instead, so no product string can disturb it.
  virtual std::optional<WideText> readPortName();
  // The current device's USB identity; empty where the list cannot tell it.
  virtual UsbIdentity readUsbIdentity() { return {}; }
};

class DeviceCatalog {
 public:
  virtual ~DeviceCatalog() = default;
  // The present devices of the serial-port class; nullptr when no list can be had.
  virtual std::unique_ptr<DeviceList> listPresentPorts() = 0;
  // What turns a port name into a path the port opener takes ("\\.\" on Windows).
  virtual WideText devicePathPrefix() const = 0;

  // The identity of the device that a device path opens (a --port), as far as the platform can
  // tell it from the path; empty where it cannot.
  virtual UsbIdentity identifyPort(WideView devicePath) {
    (void)devicePath;
    return {};
  }
  // The path that opens the tester now, for the second opening: the tester was found (or named)
  // as devicePath with this identity, and may have come back from its restart under another
  // name. A platform where a device keeps its name gives devicePath itself, as does every
  // platform for a tester without a location; a platform that can see the device beneath its
  // location gives that device's path, and devicePath while nothing is there.
  virtual WideText currentDevicePath(WideView devicePath, const UsbIdentity& identity) {
    (void)identity;
    return WideText(devicePath);
  }
};

}  // namespace quarn
