#include "cli/command_line.hpp"

#include "cli/check_mode.hpp"
#include "cli/exit_codes.hpp"
#include "cli/human_face.hpp"
#include "cli/json_face.hpp"
#include "cli/list_mode.hpp"
#include "cli/named_port_catalog.hpp"
#include "cli/number_text.hpp"
#include "cli/package_directory_files.hpp"
#include "cli/tester_pick.hpp"
#include "cli/tracing_seams.hpp"
#include "session/update_worker.hpp"

#ifndef QUARN_VERSION
#error "QUARN_VERSION must be defined by the build"
#endif

namespace quarn::cli {
namespace {

std::unique_ptr<CliFace> makeFace(CliPlatform& platform, bool json) {
  if (json) return std::make_unique<JsonFace>(platform.out());
  return std::make_unique<HumanFace>(platform.out(), platform.err(),
                                     platform.helpFlavour().programName);
}

std::string interruptedText(bool updating, bool programmingStarted) {
  if (!updating) return "interrupted";
  if (!programmingStarted) {
    return "update interrupted before the tester was restarted; nothing was sent to it";
  }
  return "update interrupted; the tester may be left in its bootloader: run the update again";
}

}  // namespace

// When discovery did not come down to one tester, the testers it saw, so the user can pick one.
void CommandLine::showCandidates(const PickingCatalog& picking, int exit) {
  const TesterPick& pick = picking.pick();
  if (exit == exitNoTester && pick.any() && !picking.testersSeen().empty()) {
    reporter_->candidates(CandidatesEvent{
        "noMatchingTester",
        "no tester has " + pick.describe() + "; the testers seen:", picking.testersSeen()});
  }
  if (exit == exitTooManyTesters) {
    const std::vector<DeviceEvent>& testers =
        pick.any() ? picking.testersMatching() : picking.testersSeen();
    const std::string which = pick.any() ? " have " + pick.describe() : " are connected";
    reporter_->candidates(CandidatesEvent{"severalTesters",
                                          std::to_string(testers.size()) + " testers" + which +
                                              "; pick one with --serial, --location or --port:",
                                          testers});
  }
}

CommandLine::CommandLine(CliPlatform& platform, std::span<const std::string> arguments)
    : platform_(platform),
      parsed_(parseOptions(arguments)),
      outputMutex_(platform.makeMutex()),
      portMutex_(platform.makeMutex()),
      ports_(platform.ports(), *portMutex_, platform.clock()) {
  if (parsed_.options) options_ = &*parsed_.options;
  const bool quiet = options_ && options_->quiet;
  face_ = makeFace(platform, parsed_.json);
  reporter_ = std::make_unique<CliReporter>(*face_, *outputMutex_, platform.clock(), quiet);
}

CommandLine::~CommandLine() = default;

int CommandLine::run() {
  const ResultEvent result = runMode();
  if (trace_) trace_->result(result.code, result.exit);
  // An interruption that came first has shown its own result; the process ends with its code.
  if (!reporter_->finish(result)) return exitInterrupted;
  return result.exit;
}

bool CommandLine::interrupt() {
  return reporter_->interrupt(
      [this] {
        ports_.closeForInterrupt([this] { platform_.wakeSessionThread(); }, interruptCloseBoundMs);
      },
      [this](bool programmingStarted) { return interruptedText(updating(), programmingStarted); });
}

ResultEvent CommandLine::runMode() {
  if (!options_) {
    reporter_->failure(usageCode, parsed_.error);
    return ResultEvent{std::string(usageCode), exitUsage, {}};
  }
  const std::string& program = platform_.helpFlavour().programName;
  switch (options_->mode) {
    case CliMode::help:
      return ResultEvent{std::string(helpCode), exitComplete, helpText(platform_.helpFlavour())};
    case CliMode::version:
      return ResultEvent{std::string(versionCode), exitComplete, program + " " + QUARN_VERSION};
    case CliMode::list:
      return runList(*reporter_, platform_.presentDevices());
    case CliMode::check: {
      const WideText directory = options_->packageDirectory
                                     ? fromPathBytes(*options_->packageDirectory)
                                     : platform_.currentDirectory();
      PackageDirectoryFiles files(platform_.packageFiles(), directory);
      return runCheck(*reporter_, files, platform_.clock(), toUtf8(directory));
    }
    case CliMode::update:
      return runUpdate();
  }
  return ResultEvent{std::string(usageCode), exitUsage, {}};
}

ResultEvent CommandLine::runUpdate() {
  reporter_->recordUnit([this] { return platform_.wallClockMilliseconds(); }, platform_.hostName(),
                        platform_.devicePathPrefix());
  const WideText directory = options_->packageDirectory ? fromPathBytes(*options_->packageDirectory)
                                                        : platform_.currentDirectory();
  PackageDirectoryFiles files(platform_.packageFiles(), directory);
  std::unique_ptr<NamedPortCatalog> namedPort;
  std::unique_ptr<PickingCatalog> picking;
  if (options_->port) {
    namedPort = std::make_unique<NamedPortCatalog>(
        fromPathBytes(*options_->port), platform_.devicePathPrefix(), platform_.presentDevices());
    // For the record: what the platform tells of the port (on Linux by its device number, so a
    // link names its tester too), else what the device list shows for a port of that name.
    const std::string port = toUtf8(namedPort->portName());
    DeviceEvent unit = deviceOnPort(platform_.presentDevices(), port).value_or(DeviceEvent{});
    const UsbIdentity identity = platform_.presentDevices().identifyPort(
        platform_.devicePathPrefix() + namedPort->portName());
    if (identity.vendorId || identity.serialNumber || identity.location) unit.usb = identity;
    unit.port = port;
    reporter_->unitIdentified(unit);
  } else {
    picking = std::make_unique<PickingCatalog>(
        platform_.presentDevices(), TesterPick{options_->serial, options_->location},
        [this](const DeviceEvent& unit) { reporter_->unitIdentified(unit); });
  }
  DeviceCatalog& devices = namedPort ? static_cast<DeviceCatalog&>(*namedPort) : *picking;
  std::optional<TracingPortOpener> tracedPorts;
  std::optional<TracingClock> tracedClock;
  if (options_->tracePath) {
    traceSink_ = platform_.createTraceFile(*options_->tracePath);
    if (!traceSink_) {
      const std::string why = "cannot write the trace file " + *options_->tracePath;
      reporter_->failure(traceFileCode, why);
      return ResultEvent{std::string(traceFileCode), exitUsage, {}};
    }
    trace_ =
        std::make_unique<TraceRecorder>(*traceSink_, platform_.clock(), options_->traceFull,
                                        TraceHeader{QUARN_VERSION, platform_.systemName(),
                                                    utcIsoTime(platform_.wallClockMilliseconds())});
    tracedPorts.emplace(ports_, *trace_,
                        [this](uint32_t error) { return platform_.osErrorName(error); });
    tracedClock.emplace(platform_.clock(), *trace_);
    reporter_->setTesterListener([this](const TesterEvent& tester) {
      trace_->tester(tester.deviceId, tester.port, tester.serial, tester.location);
    });
  }
  PortOpener& ports = tracedPorts ? static_cast<PortOpener&>(*tracedPorts) : ports_;
  Clock& clock = tracedClock ? static_cast<Clock&>(*tracedClock) : platform_.clock();
  SessionPlatform session{*reporter_, devices, ports, files, clock};
  updateWorker(session);

  const std::optional<ReportCode> last = reporter_->lastReport();
  const int exit = exitCodeForReport(last);
  if (picking) showCandidates(*picking, exit);
  if (exit == exitPortNotOpened) {
    if (const auto hint =
            platform_.explainOpenFailure(options_->port.value_or("the tester's port")))
      reporter_->failure(hint->code, hint->text);
  }
  if (exit == exitNoVerdict) {
    reporter_->failure(noVerdictCode,
                       last ? "the tester gave no verdict on the image (no completion reply, or a "
                              "malformed one): it may not have been updated"
                            : "the serial devices cannot be listed");
  }
  return ResultEvent{std::string(resultCodeForReport(last)), exit, {}};
}

}  // namespace quarn::cli
