#include "session/report_code.hpp"

namespace quarn {

std::string_view reportCodeName(ReportCode code) {
  // No default: a code added without its name fails the build (-Wswitch).
  switch (code) {
    case ReportCode::readmeVersionError:
      return "readmeVersionError";
    case ReportCode::versionBanner:
      return "versionBanner";
    case ReportCode::deviceFound:
      return "deviceFound";
    case ReportCode::failedToOpen:
      return "failedToOpen";
    case ReportCode::portStateReadError:
      return "portStateReadError";
    case ReportCode::portStateSetError:
      return "portStateSetError";
    case ReportCode::portTimeoutsError:
      return "portTimeoutsError";
    case ReportCode::burningInProgress:
      return "burningInProgress";
    case ReportCode::programmingComplete:
      return "programmingComplete";
    case ReportCode::g0UpdateFailed:
      return "g0UpdateFailed";
    case ReportCode::crc32CheckFailed:
      return "crc32CheckFailed";
    case ReportCode::noTester:
      return "noTester";
    case ReportCode::tooManyTesters:
      return "tooManyTesters";
    case ReportCode::firmwareFileMissing:
      return "firmwareFileMissing";
    case ReportCode::metadataFileMissing:
      return "metadataFileMissing";
    case ReportCode::metadataUnparsable:
      return "metadataUnparsable";
    case ReportCode::sizeMismatch:
      return "sizeMismatch";
    case ReportCode::crc32Mismatch:
      return "crc32Mismatch";
    case ReportCode::versionMismatch:
      return "versionMismatch";
    case ReportCode::deviceIdFailed:
      return "deviceIdFailed";
    case ReportCode::signatureMismatch:
      return "signatureMismatch";
    case ReportCode::signatureFailed:
      return "signatureFailed";
    case ReportCode::startRefused:
      return "startRefused";
    case ReportCode::startFailed:
      return "startFailed";
    case ReportCode::blockWrongNumber:
      return "blockWrongNumber";
    case ReportCode::blockNoReply:
      return "blockNoReply";
  }
  return "unknown";
}

}  // namespace quarn
