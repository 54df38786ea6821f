#include "cli/cli_reporter.hpp"

#include <mutex>

#include "cli/exit_codes.hpp"
#include "cli/number_text.hpp"

namespace quarn::cli {

bool shownWhenQuiet(ReportCode code) {
  switch (code) {
    case ReportCode::readmeVersionError:
    case ReportCode::versionBanner:
    case ReportCode::deviceFound:
    case ReportCode::burningInProgress:
      return false;
    case ReportCode::failedToOpen:
    case ReportCode::portStateReadError:
    case ReportCode::portStateSetError:
    case ReportCode::portTimeoutsError:
    case ReportCode::programmingComplete:
    case ReportCode::g0UpdateFailed:
    case ReportCode::crc32CheckFailed:
    // Boxes are errors and always shown; listed so that a new code must be placed here.
    case ReportCode::noTester:
    case ReportCode::tooManyTesters:
    case ReportCode::firmwareFileMissing:
    case ReportCode::metadataFileMissing:
    case ReportCode::metadataUnparsable:
    case ReportCode::sizeMismatch:
    case ReportCode::crc32Mismatch:
    case ReportCode::versionMismatch:
    case ReportCode::deviceIdFailed:
    case ReportCode::signatureMismatch:
    case ReportCode::signatureFailed:
    case ReportCode::startRefused:
    case ReportCode::startFailed:
    case ReportCode::blockWrongNumber:
    case ReportCode::blockNoReply:
      return true;
  }
  return true;
}

CliReporter::CliReporter(CliFace& face, CliMutex& mutex, Clock& clock, bool quiet)
    : face_(face), mutex_(mutex), clock_(clock), quiet_(quiet) {}

void CliReporter::emit(const CliEvent& event) {
  if (!ended_) face_.render(event);
}

void CliReporter::report(ReportCode code, CliEvent event) {
  const std::lock_guard lock(mutex_);
  lastReport_ = code;
  if (code == ReportCode::burningInProgress) programmingStarted_ = true;
  if (quiet_ && !shownWhenQuiet(code)) return;
  emit(event);
}

void CliReporter::appendStatusLine(ReportCode code, WideView text) {
  report(code, LineEvent{code, WideText(text)});
}

void CliReporter::showErrorBox(ReportCode code, WideView text) {
  report(code,
         ErrorEvent{std::string(reportCodeName(code)), toUtf8(text), ErrorEvent::Source::session});
}

void CliReporter::reportTransferProgress(uint32_t bytesAcknowledged, uint32_t imageLength) {
  const uint64_t now = clock_.nowMilliseconds();
  const std::lock_guard lock(mutex_);
  if (quiet_ || !throttle_.admit(now, bytesAcknowledged, imageLength)) return;
  emit(ProgressEvent{bytesAcknowledged, imageLength, now});
}

void CliReporter::reportPackageAccepted(uint32_t imageLength, uint32_t imageCrc,
                                        const FirmwareMetadata& metadata) {
  const std::lock_guard lock(mutex_);
  if (!record_) return;
  record_->packageAccepted = true;
  record_->size = imageLength;
  record_->crc32 = imageCrc;
  record_->h7Version = metadata.h7Version;
  record_->g0Version = metadata.g0Version;
}

void CliReporter::reportDeviceId(const DeviceId& deviceId) {
  const std::lock_guard lock(mutex_);
  TesterEvent event{deviceIdText(deviceId), std::nullopt, std::nullopt, std::nullopt};
  if (record_) {
    record_->deviceId = event.deviceId;
    event.port = record_->port;
    event.serial = record_->serial;
    event.location = record_->location;
  }
  if (testerListener_) testerListener_(event);
  if (!quiet_) emit(event);
}

void CliReporter::recordUnit(std::function<int64_t()> wallClockMs, std::optional<std::string> host,
                             WideText devicePathPrefix) {
  const std::lock_guard lock(mutex_);
  devicePathPrefix_ = std::move(devicePathPrefix);
  record_ = UnitRecord{};
  record_->host = std::move(host);
  recordStartMs_ = clock_.nowMilliseconds();
  wallClockMs_ = std::move(wallClockMs);
}

void CliReporter::unitIdentified(const DeviceEvent& device) {
  const std::lock_guard lock(mutex_);
  if (!record_) return;
  record_->port = device.port;
  record_->serial = device.usb.serialNumber;
  record_->location = device.usb.location;
}

ResultEvent CliReporter::withRecord(ResultEvent result) {
  if (!record_) return result;
  result.unit = *record_;
  result.unit->durationMs = clock_.nowMilliseconds() - recordStartMs_;
  if (wallClockMs_) result.unit->time = utcIsoTime(wallClockMs_());
  return result;
}

void CliReporter::reportReconnecting() {
  const std::lock_guard lock(mutex_);
  if (!quiet_) emit(ReconnectEvent{false, {}});
}

void CliReporter::reportReconnected(WideView devicePath) {
  const std::lock_guard lock(mutex_);
  // The tester may be back under another name: the record names the port it is updated on.
  if (record_) {
    WideView path = devicePath;
    if (!devicePathPrefix_.empty() && path.starts_with(devicePathPrefix_)) {
      path.remove_prefix(devicePathPrefix_.size());
    }
    record_->port = toUtf8(path);
  }
  if (!quiet_) emit(ReconnectEvent{true, toUtf8(devicePath)});
}

void CliReporter::reportSlowReply(bool waiting) {
  const std::lock_guard lock(mutex_);
  if (!quiet_) emit(WaitingEvent{waiting});
}

void CliReporter::device(DeviceEvent event) {
  const std::lock_guard lock(mutex_);
  if (!quiet_) emit(event);
}

void CliReporter::package(PackageEvent event) {
  const std::lock_guard lock(mutex_);
  if (!quiet_) emit(event);
}

void CliReporter::failure(std::string_view code, std::string_view text) {
  const std::lock_guard lock(mutex_);
  emit(ErrorEvent{std::string(code), std::string(text), ErrorEvent::Source::program});
}

// An error: shown with --quiet too.
void CliReporter::candidates(CandidatesEvent event) {
  const std::lock_guard lock(mutex_);
  emit(event);
}

bool CliReporter::finish(ResultEvent result) {
  const std::lock_guard lock(mutex_);
  if (ended_) return false;
  emit(withRecord(std::move(result)));
  ended_ = true;
  return true;
}

bool CliReporter::interrupt(const std::function<void()>& closePort,
                            const std::function<std::string(bool programmingStarted)>& describe) {
  const std::lock_guard lock(mutex_);
  if (ended_) return false;
  ended_ = true;  // whatever the session says from now on is not shown
  closePort();
  face_.render(ErrorEvent{std::string(interruptedCode), describe(programmingStarted_)});
  face_.render(withRecord(ResultEvent{std::string(interruptedCode), exitInterrupted, {}}));
  return true;
}

std::optional<ReportCode> CliReporter::lastReport() const {
  const std::lock_guard lock(mutex_);
  return lastReport_;
}

bool CliReporter::programmingStarted() const {
  const std::lock_guard lock(mutex_);
  return programmingStarted_;
}

}  // namespace quarn::cli
