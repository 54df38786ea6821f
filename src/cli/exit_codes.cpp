#include "cli/exit_codes.hpp"

#include <utility>

#include "session/messages.hpp"
#include "session/status_reporting.hpp"

namespace quarn::cli {

int exitCodeForReport(WideView report) {
  namespace m = messages;
  static const std::pair<WideView, int> table[] = {
      {m::programmingComplete, exitComplete},
      {m::noTester, exitNoTester},
      {m::tooManyTesters, exitTooManyTesters},
      {m::firmwareFileMissing, exitFirmwareFileMissing},
      {m::metadataFileMissing, exitMetadataFileMissing},
      {m::metadataUnparsable, exitMetadataUnparsable},
      {m::sizeMismatch, exitSizeMismatch},
      {m::crc32Mismatch, exitCrc32Mismatch},
      {m::versionMismatch, exitVersionMismatch},
      {m::deviceIdFailed, exitDeviceIdFailed},
      {m::signatureMismatch, exitSignatureMismatch},
      {m::signatureFailed, exitSignatureFailed},
      {m::startRefused, exitStartRefused},
      {m::startFailed, exitStartFailed},
      {m::blockWrongNumber, exitBlockWrongNumber},
      {m::blockNoReply, exitBlockNoReply},
      {m::g0UpdateFailed, exitG0UpdateFailed},
      {m::crc32CheckFailed, exitCrc32CheckFailed},
  };
  for (const auto& [text, code] : table)
    if (report == text) return code;
  // "Failed to open %s\n" carries the path: match the text around it.
  const WideView format = messages::failedToOpen;
  const size_t slot = format.find(u"%s");
  const WideView before = format.substr(0, slot);
  const WideView after = format.substr(slot + 2);
  if (report.size() >= before.size() + after.size() && report.starts_with(before) &&
      report.ends_with(after))
    return exitPortNotOpened;
  return exitNoVerdict;
}

const char* exitCodeHelp() {
  return "  0  programming complete\n"
         "  1  wrong command-line options\n"
         "  2  the session ended without a verdict (no device list, or no or a malformed\n"
         "     completion reply from the tester)\n"
         "  3  no tester found              4  more than one tester found\n"
         "  5  the port could not be opened (before or after the bootloader restart)\n"
         "  6  QUARN.bin not found          7  metadata.json not found\n"
         "  8  metadata.json not readable   9  size mismatch\n"
         " 10  CRC-32 mismatch             11  version mismatch\n"
         " 12  no device ID                13  app signature rejected\n"
         " 14  no app signature verdict    15  start refused by the tester\n"
         " 16  no reply to the start       17  a block acknowledged with a wrong number\n"
         " 18  a block not acknowledged    19  the tester reports the G0 update failed\n"
         " 20  the tester reports a CRC-32 failure of the image\n";
}

}  // namespace quarn::cli
