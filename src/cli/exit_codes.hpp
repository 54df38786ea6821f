#pragma once
// quarn-update's exit codes: 0 only after "Programming complete.", a distinct code for every
// other way a session ends, so scripts can tell the outcomes apart. --check and --list end with
// the codes an update would give for the same package or the same set of devices.
#include <optional>
#include <string_view>

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
  exitInterrupted = 130,  // 128 + SIGINT, as shells report a command ended by Ctrl-C
};

// The command line's own result codes, beside the report codes' names (machine-readable: add
// new ones, never rename one).
inline constexpr std::string_view usageCode = "usage";
inline constexpr std::string_view interruptedCode = "interrupted";
inline constexpr std::string_view noVerdictCode = "noVerdict";
inline constexpr std::string_view packageOkCode = "packageOk";
inline constexpr std::string_view testerFoundCode = "testerFound";
inline constexpr std::string_view helpCode = "help";
inline constexpr std::string_view versionCode = "version";
inline constexpr std::string_view traceFileCode = "traceFile";

// The code for a session whose final report (a box or a line) had this code; exitNoVerdict when
// that report ends no session, or when nothing was reported.
int exitCodeForReport(std::optional<ReportCode> lastReport);

// The result code of a session with this final report: the report's name when it ends a
// session, noVerdict otherwise.
std::string_view resultCodeForReport(std::optional<ReportCode> lastReport);

// The table for --help, one "  N  meaning" entry each.
const char* exitCodeHelp();

}  // namespace quarn::cli
