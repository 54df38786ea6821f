#pragma once
// Every text the updater shows, in one place. The texts are fixed: none is translated or
// assembled at run time other than by filling the one "%s" of a formatted line.
#include "session/text.hpp"

namespace quarn::messages {

// Status-log lines.
inline constexpr WideView readmeVersionError = u"Error reading version from ReadMe.txt\n";
inline constexpr WideView versionBanner = u"VIVozezur Version: %s\n";
inline constexpr WideView deviceFound = u"%s found\n";
inline constexpr WideView failedToOpen = u"Failed to open %s\n";
inline constexpr WideView portStateReadError = u"Error getting COM port state\n";
inline constexpr WideView portStateSetError = u"Error setting COM port state\n";
inline constexpr WideView portTimeoutsError = u"Error setting COM port timeouts\n";
inline constexpr WideView burningInProgress = u"Burning in Progress.\n Do not unplug.\n";
inline constexpr WideView programmingComplete = u"Programming complete.\n";
inline constexpr WideView g0UpdateFailed = u"G0 FW update failed.\n";
inline constexpr WideView crc32CheckFailed = u"FW crc32 check failed.\n";

// Error boxes.
inline constexpr WideView noTester =
    u"No Zentrika Quarn device detected.\nYou may need to plug in (or install) USB devices.\n";
inline constexpr WideView tooManyTesters =
    u"This application only supports 1 connected Quarn device.\nYou need to remove USB devices.\n";
inline constexpr WideView firmwareFileMissing = u"Failed to find firmware file.";
inline constexpr WideView metadataFileMissing = u"Failed to find metadata file.";
inline constexpr WideView metadataUnparsable = u"Failed to extract metadata file.";
inline constexpr WideView sizeMismatch = u"Failed to validate firmware (fw_size mismatch)";
inline constexpr WideView crc32Mismatch = u"Failed to validate firmware (crc32 mismatch)";
inline constexpr WideView versionMismatch = u"Failed to validate firmware (version mismatch)";
inline constexpr WideView deviceIdFailed = u"Failed to retrieve Device ID.";
inline constexpr WideView signatureMismatch = u"App Signiture Mismatch.";
inline constexpr WideView signatureFailed = u"App Signiture Failed.";
inline constexpr WideView startRefused = u"Please unplug and reconnect the tester and try again.";
inline constexpr WideView startFailed = u"Failed to program firmware.";
inline constexpr WideView blockWrongNumber = u"1 Failed to program firmware.";
inline constexpr WideView blockNoReply = u"2 Failed to program firmware.";

// Shown by the Windows program when it cannot even put up its window: there is no status log.
inline constexpr WideView windowClassFailed =
    u"Quarn Updater cannot start: its window class could not be registered.";
inline constexpr WideView mainWindowFailed =
    u"Quarn Updater cannot start: its main window could not be created.";

// Caption of every error box.
inline constexpr WideView errorBoxCaption = u"Quarn Updater: Error";

}  // namespace quarn::messages
