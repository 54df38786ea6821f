#pragma once
// The stable identity of every report a session or the banner can make. The names are part of
// the command line's machine-readable output: add new ones, never rename or reuse one.
#include <cstdint>
#include <string_view>

namespace quarn {

enum class ReportCode : uint8_t {
  // Status-log lines.
  readmeVersionError,
  versionBanner,
  deviceFound,
  failedToOpen,
  portStateReadError,
  portStateSetError,
  portTimeoutsError,
  burningInProgress,
  programmingComplete,
  g0UpdateFailed,
  crc32CheckFailed,
  // Error boxes.
  noTester,
  tooManyTesters,
  firmwareFileMissing,
  metadataFileMissing,
  metadataUnparsable,
  sizeMismatch,
  crc32Mismatch,
  versionMismatch,
  deviceIdFailed,
  signatureMismatch,
  signatureFailed,
  startRefused,
  startFailed,
  blockWrongNumber,
  blockNoReply,
};

// The identifier as text, spelled as the enumerator ("noTester").
std::string_view reportCodeName(ReportCode code);

}  // namespace quarn
