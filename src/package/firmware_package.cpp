#include "package/firmware_package.hpp"

// Placeholder until the package stage lands: every package is refused as missing.
#include "session/messages.hpp"
#include "session/status_reporting.hpp"

namespace quarn {

void MetadataTreeDeleter::operator()(cJSON*) const {}

bool loadFirmwarePackage(UpdateSession& session, SessionPlatform& platform) {
  showErrorBox(platform.outlets, messages::firmwareFileMissing);
  session.port.reset();
  return false;
}

}  // namespace quarn
