#include "cli/named_port_catalog.hpp"

#include "link/tester_discovery.hpp"

namespace quarn::cli {
namespace {

class NamedPortList : public DeviceList {
 public:
  NamedPortList(WideView portName, UsbIdentity identity)
      : portName_(portName),
        description_(WideText(testerMatchText) + u" on " + portName_),
        identity_(std::move(identity)) {}

  bool selectDevice(uint32_t memberIndex) override { return memberIndex == 0; }
  bool readInstanceId() override { return true; }
  std::optional<WideText> readBusReportedDescription() override { return description_; }
  std::optional<WideText> readFriendlyName() override { return description_; }
  // The name itself: parentheses in a path must not pick another port.
  std::optional<WideText> readPortName() override { return portName_; }
  UsbIdentity readUsbIdentity() override { return identity_; }

 private:
  WideText portName_;
  WideText description_;
  UsbIdentity identity_;
};

}  // namespace

NamedPortCatalog::NamedPortCatalog(WideView port, WideView devicePathPrefix,
                                   DeviceCatalog& platform)
    : portName_(!devicePathPrefix.empty() && port.starts_with(devicePathPrefix)
                    ? port.substr(devicePathPrefix.size())
                    : port),
      prefix_(devicePathPrefix),
      platform_(platform) {}

// The port is looked at when the session starts, so a tester that later restarts under another
// name is found again by where it was.
std::unique_ptr<DeviceList> NamedPortCatalog::listPresentPorts() {
  return std::make_unique<NamedPortList>(portName_, platform_.identifyPort(prefix_ + portName_));
}

}  // namespace quarn::cli
