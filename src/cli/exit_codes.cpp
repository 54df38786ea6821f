#include "cli/exit_codes.hpp"

namespace quarn::cli {

int exitCodeForReport(std::optional<ReportCode> lastReport) {
  if (!lastReport) return exitNoVerdict;  // no device list: nothing was reported
  switch (*lastReport) {
    case ReportCode::programmingComplete:
      return exitComplete;
    case ReportCode::noTester:
      return exitNoTester;
    case ReportCode::tooManyTesters:
      return exitTooManyTesters;
    case ReportCode::failedToOpen:
      return exitPortNotOpened;
    case ReportCode::firmwareFileMissing:
      return exitFirmwareFileMissing;
    case ReportCode::metadataFileMissing:
      return exitMetadataFileMissing;
    case ReportCode::metadataUnparsable:
      return exitMetadataUnparsable;
    case ReportCode::sizeMismatch:
      return exitSizeMismatch;
    case ReportCode::crc32Mismatch:
      return exitCrc32Mismatch;
    case ReportCode::versionMismatch:
      return exitVersionMismatch;
    case ReportCode::deviceIdFailed:
      return exitDeviceIdFailed;
    case ReportCode::signatureMismatch:
      return exitSignatureMismatch;
    case ReportCode::signatureFailed:
      return exitSignatureFailed;
    case ReportCode::startRefused:
      return exitStartRefused;
    case ReportCode::startFailed:
      return exitStartFailed;
    case ReportCode::blockWrongNumber:
      return exitBlockWrongNumber;
    case ReportCode::blockNoReply:
      return exitBlockNoReply;
    case ReportCode::g0UpdateFailed:
      return exitG0UpdateFailed;
    case ReportCode::crc32CheckFailed:
      return exitCrc32CheckFailed;
    // Lines that never end a session: the last of them means no verdict came.
    case ReportCode::readmeVersionError:
    case ReportCode::versionBanner:
    case ReportCode::deviceFound:
    case ReportCode::portStateReadError:
    case ReportCode::portStateSetError:
    case ReportCode::portTimeoutsError:
    case ReportCode::burningInProgress:
      break;
  }
  return exitNoVerdict;
}

std::string_view resultCodeForReport(std::optional<ReportCode> lastReport) {
  if (exitCodeForReport(lastReport) == exitNoVerdict) return noVerdictCode;
  return reportCodeName(*lastReport);
}

const char* exitCodeHelp() {
  return "  0  programming complete (--check: the package would be programmed; --list:\n"
         "     exactly one tester)\n"
         "  1  wrong command-line options\n"
         "  2  the session ended without a verdict (no device list, or no or a malformed\n"
         "     completion reply from the tester)\n"
         "  3  no tester found (with --serial or --location: none that matches)\n"
         "  4  more than one tester found (with --serial or --location: several match)\n"
         "  5  the port could not be opened (before or after the bootloader restart)\n"
         "  6  QUARN.bin not found\n"
         "  7  metadata.json not found\n"
         "  8  metadata.json not readable\n"
         "  9  size mismatch\n"
         " 10  CRC-32 mismatch\n"
         " 11  version mismatch\n"
         " 12  no device ID\n"
         " 13  app signature rejected\n"
         " 14  no app signature verdict\n"
         " 15  start refused by the tester\n"
         " 16  no reply to the start request\n"
         " 17  a block acknowledged with a wrong number\n"
         " 18  a block not acknowledged\n"
         " 19  the tester reports that the G0 update failed\n"
         " 20  the tester reports a CRC-32 failure of the image\n"
         "130  interrupted (see Interrupting above)\n";
}

}  // namespace quarn::cli
