#pragma once
// quarn-update's exit codes: 0 only after "Programming complete.", a distinct code for every
// other way a session ends, so scripts can tell the outcomes apart.
#include <optional>

#include "session/report_code.hpp"

namespace quarn::cli {

enum ExitCode : int {
  exitComplete = 0,
  exitUsage = 1,
  exitNoVerdict = 2,
  exitNoTester = 3,
  exitTooManyTesters = 4,
  exitPortNotOpened = 5,
  exitFirmwareFileMissing = 6,
  exitMetadataFileMissing = 7,
  exitMetadataUnparsable = 8,
  exitSizeMismatch = 9,
  exitCrc32Mismatch = 10,
  exitVersionMismatch = 11,
  exitDeviceIdFailed = 12,
  exitSignatureMismatch = 13,
  exitSignatureFailed = 14,
  exitStartRefused = 15,
  exitStartFailed = 16,
  exitBlockWrongNumber = 17,
  exitBlockNoReply = 18,
  exitG0UpdateFailed = 19,
  exitCrc32CheckFailed = 20,
};

// The code for a session whose final report (a box or a line) had this code; exitNoVerdict when
// that report ends no session, or when nothing was reported.
int exitCodeForReport(std::optional<ReportCode> lastReport);

// The table for --help, one "  N  meaning" line each.
const char* exitCodeHelp();

}  // namespace quarn::cli
