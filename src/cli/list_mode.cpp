#include "cli/list_mode.hpp"

#include "cli/exit_codes.hpp"
#include "link/tester_discovery.hpp"

namespace quarn::cli {
namespace {

std::optional<std::string> utf8(const std::optional<WideText>& text) {
  if (!text) return std::nullopt;
  return toUtf8(*text);
}

// The rules of discovery: an identified device whose description carries the match text and
// that yields a port name.
DeviceEvent examine(DeviceList& list) {
  const bool identified = list.readInstanceId();
  const std::optional<WideText> description = list.readBusReportedDescription();
  const std::optional<WideText> friendlyName = list.readFriendlyName();
  const std::optional<WideText> port = list.readPortName();
  const bool tester = identified && description && matchesTester(*description) && port;
  return DeviceEvent{utf8(description), utf8(friendlyName), utf8(port), tester};
}

}  // namespace

ResultEvent runList(CliReporter& reporter, DeviceCatalog& devices) {
  const std::unique_ptr<DeviceList> list = devices.listPresentPorts();
  if (!list) {
    reporter.failure("noDeviceList", "the serial devices cannot be listed");
    return ResultEvent{std::string(reportCodeName(ReportCode::noTester)), exitNoTester, {}};
  }
  int testers = 0;
  std::string testerPort;
  for (uint32_t index = 0; list->selectDevice(index); ++index) {
    DeviceEvent device = examine(*list);
    if (device.tester) {
      ++testers;
      testerPort = device.port.value_or("");
    }
    reporter.device(std::move(device));
  }
  if (testers == 1) {
    return ResultEvent{std::string(testerFoundCode), exitComplete,
                       "One tester, on " + testerPort + "."};
  }
  if (testers == 0) {
    return ResultEvent{std::string(reportCodeName(ReportCode::noTester)), exitNoTester,
                       "No tester among the serial devices."};
  }
  return ResultEvent{std::string(reportCodeName(ReportCode::tooManyTesters)), exitTooManyTesters,
                     std::to_string(testers) + " testers: an update needs exactly one."};
}

}  // namespace quarn::cli
