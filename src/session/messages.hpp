#pragma once
// Every text the updater shows, in one place, each with the stable identifier of its report. The
// texts are fixed: none is translated or assembled at run time other than by filling the one
// "%s" of a formatted line. Faces decide by the identifier (the command line's exit codes and its
// JSON), never by comparing texts.
#include "session/report_code.hpp"
#include "session/text.hpp"

namespace quarn {

struct Message {
  ReportCode code;
  WideView text;
  constexpr operator WideView() const { return text; }  // NOLINT: a message is its text
};

}  // namespace quarn

namespace quarn::messages {

// Status-log lines.
inline constexpr Message readmeVersionError{ReportCode::readmeVersionError,
                                            u"Error reading version from ReadMe.txt\n"};
inline constexpr Message versionBanner{ReportCode::versionBanner, u"VIVozezur Version: %s\n"};
inline constexpr Message deviceFound{ReportCode::deviceFound, u"%s found\n"};
inline constexpr Message failedToOpen{ReportCode::failedToOpen, u"Failed to open %s\n"};
inline constexpr Message portStateReadError{ReportCode::portStateReadError,
                                            u"Error getting COM port state\n"};
inline constexpr Message portStateSetError{ReportCode::portStateSetError,
                                           u"Error setting COM port state\n"};
inline constexpr Message portTimeoutsError{ReportCode::portTimeoutsError,
                                           u"Error setting COM port timeouts\n"};
inline constexpr Message burningInProgress{ReportCode::burningInProgress,
                                           u"Burning in Progress.\n Do not unplug.\n"};
inline constexpr Message programmingComplete{ReportCode::programmingComplete,
                                             u"Programming complete.\n"};
inline constexpr Message g0UpdateFailed{ReportCode::g0UpdateFailed, u"G0 FW update failed.\n"};
inline constexpr Message crc32CheckFailed{ReportCode::crc32CheckFailed,
                                          u"FW crc32 check failed.\n"};

// Error boxes.
inline constexpr Message noTester{
    ReportCode::noTester,
    u"No Zentrika Quarn device detected.\nYou may need to plug in (or install) USB devices.\n"};
inline constexpr Message tooManyTesters{
    ReportCode::tooManyTesters,
    u"This application only supports 1 connected Quarn device.\nYou need to remove USB devices.\n"};
inline constexpr Message firmwareFileMissing{ReportCode::firmwareFileMissing,
                                             u"Failed to find firmware file."};
inline constexpr Message metadataFileMissing{ReportCode::metadataFileMissing,
                                             u"Failed to find metadata file."};
inline constexpr Message metadataUnparsable{ReportCode::metadataUnparsable,
                                            u"Failed to extract metadata file."};
inline constexpr Message sizeMismatch{ReportCode::sizeMismatch,
                                      u"Failed to validate firmware (fw_size mismatch)"};
inline constexpr Message crc32Mismatch{ReportCode::crc32Mismatch,
                                       u"Failed to validate firmware (crc32 mismatch)"};
inline constexpr Message versionMismatch{ReportCode::versionMismatch,
                                         u"Failed to validate firmware (version mismatch)"};
inline constexpr Message deviceIdFailed{ReportCode::deviceIdFailed,
                                        u"Failed to retrieve Device ID."};
inline constexpr Message signatureMismatch{ReportCode::signatureMismatch,
                                           u"App Signiture Mismatch."};
inline constexpr Message signatureFailed{ReportCode::signatureFailed, u"App Signiture Failed."};
inline constexpr Message startRefused{ReportCode::startRefused,
                                      u"Please unplug and reconnect the tester and try again."};
inline constexpr Message startFailed{ReportCode::startFailed, u"Failed to program firmware."};
inline constexpr Message blockWrongNumber{ReportCode::blockWrongNumber,
                                          u"1 Failed to program firmware."};
inline constexpr Message blockNoReply{ReportCode::blockNoReply, u"2 Failed to program firmware."};

// Shown by the Windows program when it cannot even put up its window: there is no status log.
inline constexpr WideView windowClassFailed =
    u"Quarn Updater cannot start: its window class could not be registered.";
inline constexpr WideView mainWindowFailed =
    u"Quarn Updater cannot start: its main window could not be created.";

// Caption of every error box.
inline constexpr WideView errorBoxCaption = u"Quarn Updater: Error";

// Title of the main window, as its dialog template gives it, and the title while blocks go out
// ("%s" takes the acknowledged percentage).
inline constexpr WideView windowTitle = u"Quarn Firmware Updater";
inline constexpr WideView transferTitleFormat = u"%s%% - Quarn Firmware Updater";

}  // namespace quarn::messages
