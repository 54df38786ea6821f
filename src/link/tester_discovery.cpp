#include "link/tester_discovery.hpp"

#include "session/messages.hpp"
#include "session/status_reporting.hpp"

namespace quarn {

std::optional<WideText> portNameFromFriendlyName(WideView friendlyName) {
  const size_t open = friendlyName.find(u'(');
  if (open == WideView::npos) return std::nullopt;
  const size_t close = friendlyName.find(u')', open + 1);
  if (close == WideView::npos) return std::nullopt;
  return WideText(friendlyName.substr(open + 1, close - open - 1));
}

bool matchesTester(WideView description) {
  return description.find(testerMatchText) != WideView::npos;
}

std::optional<WideText> DeviceList::readPortName() {
  const std::optional<WideText> friendlyName = readFriendlyName();
  if (!friendlyName) return std::nullopt;
  return portNameFromFriendlyName(*friendlyName);
}

bool discoverTester(UpdateSession& session, SessionPlatform& platform) {
  session.deviceList = platform.devices.listPresentPorts();
  if (!session.deviceList) return false;  // nothing to report: the session just ends
  DeviceList& devices = *session.deviceList;

  for (uint32_t index = 0; devices.selectDevice(index); ++index) {
    if (!devices.readInstanceId()) continue;
    const std::optional<WideText> description = devices.readBusReportedDescription();
    if (!description || !matchesTester(*description)) continue;
    // Reported before the friendly name is read: a tester can be found and still not counted.
    addStatusLineF(platform.outlets, messages::deviceFound, {*description});
    const std::optional<WideText> portName = devices.readPortName();
    if (!portName) continue;
    session.devicePath = platform.devices.devicePathPrefix() + *portName;
    session.testerIdentity = devices.readUsbIdentity();
    ++session.matchCount;
  }

  if (session.matchCount == 0) {
    showErrorBox(platform.outlets, messages::noTester);
    return false;
  }
  if (session.matchCount > 1) {
    showErrorBox(platform.outlets, messages::tooManyTesters);
    return false;
  }
  return true;
}

}  // namespace quarn
