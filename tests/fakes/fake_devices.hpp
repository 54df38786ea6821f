#pragma once
// A device list made of scripted entries. Each entry says what each query of discovery gets.
#include <optional>
#include <vector>

#include "fakes/event_log.hpp"
#include "link/device_list.hpp"

namespace quarn::fakes {

struct FakeDevice {
  std::optional<WideText> description;   // nullopt: the property cannot be read
  std::optional<WideText> friendlyName;  // nullopt: the property cannot be read
  bool instanceId = true;
  UsbIdentity usb = {};
};

class FakeDeviceCatalog : public DeviceCatalog {
 public:
  explicit FakeDeviceCatalog(EventLog& log) : log_(log) {}
  std::unique_ptr<DeviceList> listPresentPorts() override;
  WideText devicePathPrefix() const override { return u"\\\\.\\"; }

  std::vector<FakeDevice> devices;
  bool listAvailable = true;
  int openLists = 0;  // lists obtained and not yet released

 private:
  EventLog& log_;
};

}  // namespace quarn::fakes
