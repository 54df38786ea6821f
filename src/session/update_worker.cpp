#include "session/update_worker.hpp"

#include "bootloader/programming_sequence.hpp"
#include "link/serial_link.hpp"
#include "link/tester_discovery.hpp"
#include "package/firmware_package.hpp"
#include "session/update_session.hpp"

namespace quarn {
namespace {

bool runStages(UpdateSession& session, SessionPlatform& platform) {
  if (!discoverTester(session, platform)) return false;
  if (!openTesterPort(session, platform)) return false;
  configurePort(*session.port, platform.outlets);
  if (!loadFirmwarePackage(session, platform)) return false;
  platform.outlets.reportPackageAccepted(session.imageLength, session.imageCrc, session.metadata);
  programTester(session, platform);
  return true;
}

// Every session leaves through here, in this order, whatever stage it reached.
void commonEnd(UpdateSession& session, SessionPlatform& platform) {
  session.port.reset();  // a stage that failed has closed it already; this only guards the rule
  imageBuffer.release();
  metadataBuffer.release();
  session.metadataTree.reset();
  platform.outlets.setProgramEnabled(true);
  session.deviceList.reset();
}

}  // namespace

void updateWorker(SessionPlatform& platform) {
  UpdateSession session;
  platform.outlets.setProgramEnabled(false);
  runStages(session, platform);
  commonEnd(session, platform);
}

}  // namespace quarn
