#pragma once
// What the command line tells its user, as events that a face renders: the human face as lines
// on a terminal, the JSON face as one object per line.
#include <cstdint>
#include <optional>
#include <string>
#include <variant>
#include <vector>

#include "link/device_list.hpp"
#include "package/firmware_metadata.hpp"
#include "session/report_code.hpp"
#include "session/text.hpp"

namespace quarn::cli {

// A status-log line of the session.
struct LineEvent {
  ReportCode code;
  WideText text;
};

// An error: a session's error box, or a failure of the command line itself.
struct ErrorEvent {
  enum class Source { session, program };
  std::string code;  // a report code's name, or one of the command line's own ("usage", ...)
  std::string text;  // UTF-8, as the box or the program has it
  Source source = Source::program;
};

struct ProgressEvent {
  uint32_t bytes;
  uint32_t total;
  uint64_t atMs;  // the clock's reading, for the rate a face may show
};

// One serial device of --list.
struct DeviceEvent {
  std::optional<std::string> description;   // the bus-reported description (USB product string)
  std::optional<std::string> friendlyName;  // as the platform shows the port, if it has one
  std::optional<std::string> port;          // what --port takes for this device
  bool tester = false;                      // counted as a tester by discovery
  UsbIdentity usb = {};                     // what --serial and --location pick by
};

// Testers that a pick (--serial, --location) did not bring down to one, or several when none
// was picked: the ones seen, so that the user can pick.
struct CandidatesEvent {
  std::string code;  // "noMatchingTester", "severalTesters"
  std::string text;  // UTF-8
  std::vector<DeviceEvent> testers;
};

// The unit being updated, once its device-ID reply is accepted.
struct TesterEvent {
  std::string deviceId;  // 24 lower-case hexadecimal digits, the bytes in wire order
  std::optional<std::string> port;
  std::optional<std::string> serial;
  std::optional<std::string> location;
};

// The record an update run ends with: which unit received which firmware, when and where.
struct UnitRecord {
  std::optional<std::string> deviceId;  // nothing when it was never read
  bool packageAccepted = false;         // the package passed its check; the four values are its
  uint32_t size = 0;
  uint32_t crc32 = 0;
  float h7Version = 0.0f;
  float g0Version = 0.0f;
  std::optional<std::string> port;
  std::optional<std::string> serial;
  std::optional<std::string> location;
  uint64_t durationMs = 0;
  std::string time;                 // UTC, ISO 8601, at the end
  std::optional<std::string> host;  // the machine's name
};

// What --check found, up to the stage the package code reached.
struct PackageEvent {
  std::string directory;
  bool imageRead = false;
  uint32_t imageLength = 0;
  uint32_t imageBytesRead = 0;
  uint32_t imageCrc = 0;
  bool metadataRead = false;
  FirmwareMetadata metadata;
};

// The second opening after the restart: the wait begins (back false), or the tester is open
// again by port (back true).
struct ReconnectEvent {
  bool back = false;
  std::string port;  // UTF-8; empty while waiting
};

// The last event of every run.
struct ResultEvent {
  std::string code;
  int exit;
  std::string summary;                            // a closing sentence for people; may be empty
  std::optional<UnitRecord> unit = std::nullopt;  // an update's record
};

using CliEvent = std::variant<LineEvent, ErrorEvent, ProgressEvent, DeviceEvent, CandidatesEvent,
                              TesterEvent, PackageEvent, ReconnectEvent, ResultEvent>;

// Renders events; called one event at a time, never from two threads at once.
class CliFace {
 public:
  virtual ~CliFace() = default;
  virtual void render(const CliEvent& event) = 0;
};

}  // namespace quarn::cli
