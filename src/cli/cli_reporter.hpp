#pragma once
// The command line's one way out: the session's outlets and the command line's own events go
// through here to the face, one whole event at a time under a lock, so a line is never cut by
// another thread's output (the Ctrl-C handler's, say). --quiet is applied here, and progress is
// throttled here, for every face alike.
#include <functional>
#include <optional>
#include <string_view>

#include "cli/cli_events.hpp"
#include "cli/console_seams.hpp"
#include "cli/progress_throttle.hpp"
#include "session/clock.hpp"
#include "session/status_outlets.hpp"

namespace quarn::cli {

class CliReporter : public StatusOutlets {
 public:
  CliReporter(CliFace& face, CliMutex& mutex, Clock& clock, bool quiet);

  void appendStatusLine(ReportCode code, WideView text) override;
  void showErrorBox(ReportCode code, WideView text) override;
  void setProgramEnabled(bool) override {}
  void reportTransferProgress(uint32_t bytesAcknowledged, uint32_t imageLength) override;
  void reportPackageAccepted(uint32_t imageLength, uint32_t imageCrc,
                             const FirmwareMetadata& metadata) override;
  void reportDeviceId(const DeviceId& deviceId) override;
  void reportReconnecting() override;
  void reportReconnected(WideView devicePath) override;
  void reportSlowReply(bool waiting) override;

  void device(DeviceEvent event);
  void package(PackageEvent event);
  void failure(std::string_view code, std::string_view text);
  void candidates(CandidatesEvent event);

  // Makes the run's result carry a record of the unit updated (an update run), its duration
  // counted from now. wallClockMs gives the time of the end, host the machine's name.
  // A device path that the session reports (the port it reconnected by) loses devicePathPrefix.
  void recordUnit(std::function<int64_t()> wallClockMs, std::optional<std::string> host,
                  WideText devicePathPrefix);
  // The unit being updated: its port and USB identity, for the record and the tester event.
  void unitIdentified(const DeviceEvent& device);
  // Told of the tester event too, --quiet or not (the trace records it). Set before the run.
  void setTesterListener(std::function<void(const TesterEvent&)> listener) {
    testerListener_ = std::move(listener);
  }

  // The run's last event. False when an interruption has ended the output first.
  bool finish(ResultEvent result);

  // Ends the run on behalf of an interruption. With the lock held, so that no other output can
  // come between: silences everything the session may still say, runs closePort, then shows
  // describe's text (told whether programming had started) and the result (exit 130). False when
  // the run had already finished.
  bool interrupt(const std::function<void()>& closePort,
                 const std::function<std::string(bool programmingStarted)>& describe);

  // The code of the session's last line or box: its final report.
  std::optional<ReportCode> lastReport() const;
  // Whether the session has said it is starting to program (the tester was then restarted).
  bool programmingStarted() const;

 private:
  void emit(const CliEvent& event);  // with the lock held
  void report(ReportCode code, CliEvent event);
  ResultEvent withRecord(ResultEvent result);  // with the lock held

  CliFace& face_;
  CliMutex& mutex_;
  Clock& clock_;
  bool quiet_;
  ProgressThrottle throttle_;
  bool ended_ = false;
  std::optional<ReportCode> lastReport_;
  bool programmingStarted_ = false;
  std::optional<UnitRecord> record_;
  uint64_t recordStartMs_ = 0;
  std::function<int64_t()> wallClockMs_;
  WideText devicePathPrefix_;
  std::function<void(const TesterEvent&)> testerListener_;
};

// Lines that --quiet keeps: the errors and the verdicts.
bool shownWhenQuiet(ReportCode code);

}  // namespace quarn::cli
