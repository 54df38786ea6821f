#include "fakes/fake_devices.hpp"

namespace quarn::fakes {
namespace {

class FakeDeviceList : public DeviceList {
 public:
  FakeDeviceList(FakeDeviceCatalog& catalog, EventLog& log) : catalog_(catalog), log_(log) {
    ++catalog_.openLists;
  }
  ~FakeDeviceList() override {
    --catalog_.openLists;
    log_.add("devices-released");
  }
  bool selectDevice(uint32_t index) override {
    if (index >= catalog_.devices.size()) return false;
    current_ = &catalog_.devices[index];
    return true;
  }
  bool readInstanceId() override { return current_->instanceId; }
  std::optional<WideText> readBusReportedDescription() override { return current_->description; }
  std::optional<WideText> readFriendlyName() override {
    log_.add("friendly-name-read");
    return current_->friendlyName;
  }
  UsbIdentity readUsbIdentity() override { return current_->usb; }

 private:
  FakeDeviceCatalog& catalog_;
  EventLog& log_;
  const FakeDevice* current_ = nullptr;
};

}  // namespace

std::unique_ptr<DeviceList> FakeDeviceCatalog::listPresentPorts() {
  if (!listAvailable) return nullptr;
  return std::make_unique<FakeDeviceList>(*this, log_);
}

}  // namespace quarn::fakes
