#include "cli/list_mode.hpp"

#include "cli/exit_codes.hpp"
#include "cli/tester_pick.hpp"

namespace quarn::cli {

ResultEvent runList(CliReporter& reporter, DeviceCatalog& devices) {
  const std::unique_ptr<DeviceList> list = devices.listPresentPorts();
  if (!list) {
    reporter.failure("noDeviceList", "the serial devices cannot be listed");
    return ResultEvent{std::string(reportCodeName(ReportCode::noTester)), exitNoTester, {}};
  }
  int testers = 0;
  std::string testerPort;
  for (uint32_t index = 0; list->selectDevice(index); ++index) {
    DeviceEvent device = examineDevice(*list);
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
                     std::to_string(testers) +
                         " testers: an update needs exactly one (pick it with --serial, "
                         "--location or --port)."};
}

}  // namespace quarn::cli
