#pragma once
// quarn-update as a whole, the same on every system: the arguments, the chosen mode (update,
// --check, --list), the face (text or JSON) and the exit code. Each system's entry gives it a
// CliPlatform, runs it on its main thread and, from its signal or console-control thread, may
// interrupt it.
#include <memory>
#include <span>
#include <string>

#include "cli/cli_options.hpp"
#include "cli/cli_platform.hpp"
#include "cli/cli_reporter.hpp"
#include "cli/port_gate.hpp"

namespace quarn::cli {

class PickingCatalog;

// How long an interruption waits for a blocking port call to return after the wake. A signal or
// a cancelled read ends such a call within microseconds on any driver that honours
// cancellation; two seconds leave a loaded host room and still end the program "at once" for the
// user (Windows ends a console program 5 s after its window is closed, whatever it does).
inline constexpr uint32_t interruptCloseBoundMs = 2000;

class CommandLine {
 public:
  // Parses the arguments (after the program name) and sets up the face they ask for.
  CommandLine(CliPlatform& platform, std::span<const std::string> arguments);
  ~CommandLine();

  // Runs what the arguments ask for; gives the exit code.
  int run();

  // From another thread: closes the port, says the run was interrupted and ends the output
  // (exit code exitInterrupted, which the caller then ends the process with). False when the
  // run finished first: the caller then lets it end by itself.
  bool interrupt();

  bool updating() const { return options_ && options_->mode == CliMode::update; }

 private:
  ResultEvent runMode();
  ResultEvent runUpdate();
  void showCandidates(const PickingCatalog& picking, int exit);

  CliPlatform& platform_;
  ParsedOptions parsed_;
  const CliOptions* options_ = nullptr;
  std::unique_ptr<CliMutex> outputMutex_;
  std::unique_ptr<CliMutex> portMutex_;
  std::unique_ptr<CliFace> face_;
  std::unique_ptr<CliReporter> reporter_;
  PortGate ports_;
  std::unique_ptr<TraceSink> traceSink_;
  std::unique_ptr<TraceRecorder> trace_;
};

}  // namespace quarn::cli
