#include "cli/named_port_catalog.hpp"

#include "link/tester_discovery.hpp"

namespace quarn::cli {
namespace {

class NamedPortList : public DeviceList {
 public:
  explicit NamedPortList(WideView portName)
      : portName_(portName), description_(WideText(testerMatchText) + u" on " + portName_) {}

  bool selectDevice(uint32_t memberIndex) override { return memberIndex == 0; }
  bool readInstanceId() override { return true; }
  std::optional<WideText> readBusReportedDescription() override { return description_; }
  std::optional<WideText> readFriendlyName() override { return description_; }
  // The name itself: parentheses in a path must not pick another port.
  std::optional<WideText> readPortName() override { return portName_; }

 private:
  WideText portName_;
  WideText description_;
};

}  // namespace

NamedPortCatalog::NamedPortCatalog(WideView port, WideView devicePathPrefix)
    : portName_(!devicePathPrefix.empty() && port.starts_with(devicePathPrefix)
                    ? port.substr(devicePathPrefix.size())
                    : port),
      prefix_(devicePathPrefix) {}

std::unique_ptr<DeviceList> NamedPortCatalog::listPresentPorts() {
  return std::make_unique<NamedPortList>(portName_);
}

}  // namespace quarn::cli
