#pragma once
// Picking one tester among several by what the bus tells of it (--serial, --location), and what
// discovery makes of each device of the platform's list (shared with --list).
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "cli/cli_events.hpp"
#include "link/device_list.hpp"

namespace quarn::cli {

struct TesterPick {
  std::optional<std::string> serial;    // compared without regard to case
  std::optional<std::string> location;  // compared as it is
  bool any() const { return serial || location; }
  // "serial number QRN-0001 and location 1-1.2", for messages.
  std::string describe() const;
};

// A device matches when every part of the pick that is given matches; a device whose serial
// number or location is unknown matches no pick of it.
bool pickMatches(const TesterPick& pick, const UsbIdentity& identity);

// The rules of discovery applied to the list's current device (an identified device whose
// description carries the match text and that yields a port name), with its USB identity.
DeviceEvent examineDevice(DeviceList& list);

// The platform's device list as discovery sees it through a pick: every device when nothing is
// picked, otherwise only the testers that match, so discovery counts (and names in its "found"
// lines) only those. It keeps the testers it saw, for the user when the pick finds none or
// several, and tells onCounted of each device whose port discovery takes: the unit updated.
class PickingCatalog : public DeviceCatalog {
 public:
  PickingCatalog(DeviceCatalog& devices, TesterPick pick,
                 std::function<void(const DeviceEvent&)> onCounted);
  std::unique_ptr<DeviceList> listPresentPorts() override;
  WideText devicePathPrefix() const override { return devices_.devicePathPrefix(); }
  // The platform's own answers: on Linux the second opening finds the tester by its location.
  UsbIdentity identifyPort(WideView devicePath) override {
    return devices_.identifyPort(devicePath);
  }
  WideText currentDevicePath(WideView devicePath, const UsbIdentity& identity) override {
    return devices_.currentDevicePath(devicePath, identity);
  }

  const TesterPick& pick() const { return pick_; }
  // The testers of the last list, and those of them that matched the pick.
  const std::vector<DeviceEvent>& testersSeen() const { return seen_; }
  const std::vector<DeviceEvent>& testersMatching() const { return matching_; }

 private:
  DeviceCatalog& devices_;
  TesterPick pick_;
  std::function<void(const DeviceEvent&)> onCounted_;
  std::vector<DeviceEvent> seen_;
  std::vector<DeviceEvent> matching_;
};

// The device of the platform's list whose port is this one, if the list has it.
std::optional<DeviceEvent> deviceOnPort(DeviceCatalog& devices, const std::string& port);

}  // namespace quarn::cli
