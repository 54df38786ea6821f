#include "cli/tester_pick.hpp"

#include "link/tester_discovery.hpp"
#include "link/usb_instance_id.hpp"

namespace quarn::cli {
namespace {

std::optional<std::string> utf8(const std::optional<WideText>& text) {
  if (!text) return std::nullopt;
  return toUtf8(*text);
}

// The underlying list with only the chosen members, in their order; every query goes to the
// member the last selectDevice chose.
class PickedList : public DeviceList {
 public:
  PickedList(std::unique_ptr<DeviceList> list, std::vector<uint32_t> members,
             std::vector<DeviceEvent> events, std::function<void(const DeviceEvent&)> onCounted)
      : list_(std::move(list)),
        members_(std::move(members)),
        events_(std::move(events)),
        onCounted_(std::move(onCounted)) {}

  bool selectDevice(uint32_t memberIndex) override {
    if (memberIndex >= members_.size()) return false;
    current_ = memberIndex;
    return list_->selectDevice(members_[memberIndex]);
  }
  bool readInstanceId() override { return list_->readInstanceId(); }
  std::optional<WideText> readBusReportedDescription() override {
    return list_->readBusReportedDescription();
  }
  std::optional<WideText> readFriendlyName() override { return list_->readFriendlyName(); }
  // Discovery counts the device whose port it gets: that is the unit, when it is the only one.
  std::optional<WideText> readPortName() override {
    std::optional<WideText> port = list_->readPortName();
    if (port && onCounted_) {
      DeviceEvent counted = events_[current_];
      counted.port = toUtf8(*port);
      onCounted_(counted);
    }
    return port;
  }
  UsbIdentity readUsbIdentity() override { return list_->readUsbIdentity(); }

 private:
  std::unique_ptr<DeviceList> list_;
  std::vector<uint32_t> members_;
  std::vector<DeviceEvent> events_;  // what the scan saw of each member
  std::function<void(const DeviceEvent&)> onCounted_;
  uint32_t current_ = 0;
};

}  // namespace

std::string TesterPick::describe() const {
  std::string text;
  if (serial) text = "serial number " + *serial;
  if (serial && location) text += " and ";
  if (location) text += "location " + *location;
  return text;
}

bool pickMatches(const TesterPick& pick, const UsbIdentity& identity) {
  if (pick.serial &&
      (!identity.serialNumber || !serialNumbersMatch(*pick.serial, *identity.serialNumber))) {
    return false;
  }
  if (pick.location && identity.location != pick.location) return false;
  return true;
}

DeviceEvent examineDevice(DeviceList& list) {
  const bool identified = list.readInstanceId();
  const std::optional<WideText> description = list.readBusReportedDescription();
  const std::optional<WideText> friendlyName = list.readFriendlyName();
  const std::optional<WideText> port = list.readPortName();
  const bool tester = identified && description && matchesTester(*description) && port;
  return DeviceEvent{utf8(description), utf8(friendlyName), utf8(port), tester,
                     list.readUsbIdentity()};
}

PickingCatalog::PickingCatalog(DeviceCatalog& devices, TesterPick pick,
                               std::function<void(const DeviceEvent&)> onCounted)
    : devices_(devices), pick_(std::move(pick)), onCounted_(std::move(onCounted)) {}

std::unique_ptr<DeviceList> PickingCatalog::listPresentPorts() {
  std::unique_ptr<DeviceList> list = devices_.listPresentPorts();
  if (!list) return nullptr;
  seen_.clear();
  matching_.clear();
  std::vector<uint32_t> members;
  std::vector<DeviceEvent> events;
  for (uint32_t index = 0; list->selectDevice(index); ++index) {
    DeviceEvent device = examineDevice(*list);
    if (device.tester) seen_.push_back(device);
    const bool matches = device.tester && pickMatches(pick_, device.usb);
    if (matches) matching_.push_back(device);
    if (!pick_.any() || matches) {
      members.push_back(index);
      events.push_back(std::move(device));
    }
  }
  return std::make_unique<PickedList>(std::move(list), std::move(members), std::move(events),
                                      onCounted_);
}

std::optional<DeviceEvent> deviceOnPort(DeviceCatalog& devices, const std::string& port) {
  const std::unique_ptr<DeviceList> list = devices.listPresentPorts();
  if (!list) return std::nullopt;
  for (uint32_t index = 0; list->selectDevice(index); ++index) {
    DeviceEvent device = examineDevice(*list);
    if (device.port == port) return device;
  }
  return std::nullopt;
}

}  // namespace quarn::cli
