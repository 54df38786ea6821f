#pragma once
// What each system's entry gives the command line: its console, its adapters of the core's seams,
// and the few things only it can do (wake the session thread, explain a refused port).
#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "cli/console_seams.hpp"
#include "cli/help_text.hpp"
#include "cli/trace_recorder.hpp"
#include "link/device_list.hpp"
#include "link/serial_port.hpp"
#include "package/package_files.hpp"
#include "session/clock.hpp"

namespace quarn::cli {

struct OpenFailureHint {
  std::string code;  // "portPermission", "portBusy"
  std::string text;
};

class CliPlatform {
 public:
  virtual ~CliPlatform() = default;

  virtual OutputStream& out() = 0;
  virtual OutputStream& err() = 0;
  virtual std::unique_ptr<CliMutex> makeMutex() = 0;
  virtual Clock& clock() = 0;

  virtual DeviceCatalog& presentDevices() = 0;
  virtual WideText devicePathPrefix() const = 0;  // for a port named with --port
  virtual PortOpener& ports() = 0;
  virtual PackageFileSystem& packageFiles() = 0;
  virtual WideText currentDirectory() = 0;  // empty when it cannot be had

  // Makes a blocking port call of the thread that runs the command line return early. Called
  // from another thread; may be called again while the first has not yet taken effect.
  virtual void wakeSessionThread() = 0;
  // Why the last opening of a port failed, when the platform can tell the user more.
  virtual std::optional<OpenFailureHint> explainOpenFailure(const std::string& port) {
    (void)port;
    return std::nullopt;
  }

  virtual const HelpFlavour& helpFlavour() const = 0;

  // For the record of an update: the time now (milliseconds since the Unix epoch, UTC) and the
  // machine's name, nothing when it cannot be had.
  virtual int64_t wallClockMilliseconds() {
    return std::chrono::duration_cast<std::chrono::milliseconds>(
               std::chrono::system_clock::now().time_since_epoch())
        .count();
  }
  virtual std::optional<std::string> hostName() { return std::nullopt; }

  // What a trace needs of the system: the file it goes to (created or emptied; nullptr when it
  // cannot be), the system's name, and the OS's own name of an error number an opener reported
  // ("ENOENT" on POSIX, the number itself on Windows).
  virtual std::unique_ptr<TraceSink> createTraceFile(const std::string& path) {
    (void)path;
    return nullptr;
  }
  virtual const char* systemName() const { return "unknown"; }
  virtual std::string osErrorName(uint32_t osError) const { return std::to_string(osError); }
};

}  // namespace quarn::cli
