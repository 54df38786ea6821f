#include "cli/check_mode.hpp"

#include "cli/exit_codes.hpp"
#include "package/firmware_package.hpp"

namespace quarn::cli {
namespace {

// The stage's box is held back until what the package holds has been shown.
class VerdictCapture : public StatusOutlets {
 public:
  void appendStatusLine(ReportCode, WideView) override {}
  void showErrorBox(ReportCode code, WideView text) override {
    if (!verdict) verdict = LineEvent{code, WideText(text)};
  }
  void setProgramEnabled(bool) override {}

  std::optional<LineEvent> verdict;
};

// A check has nothing to do with devices or ports: these make sure it cannot touch one.
class NoDevices : public DeviceCatalog {
 public:
  std::unique_ptr<DeviceList> listPresentPorts() override { return nullptr; }
  WideText devicePathPrefix() const override { return {}; }
};

class NoPorts : public PortOpener {
 public:
  std::unique_ptr<SerialPort> openPort(WideView) override { return nullptr; }
};

bool reachedMetadata(const std::optional<LineEvent>& verdict) {
  if (!verdict) return true;
  return verdict->code != ReportCode::firmwareFileMissing &&
         verdict->code != ReportCode::metadataFileMissing &&
         verdict->code != ReportCode::metadataUnparsable;
}

}  // namespace

ResultEvent runCheck(CliReporter& reporter, PackageFileSystem& files, Clock& clock,
                     std::string directory) {
  VerdictCapture capture;
  NoDevices devices;
  NoPorts ports;
  SessionPlatform platform{capture, devices, ports, files, clock};
  UpdateSession session;
  const bool passed = loadFirmwarePackage(session, platform);

  PackageEvent found;
  found.directory = std::move(directory);
  found.imageRead = !capture.verdict || capture.verdict->code != ReportCode::firmwareFileMissing;
  found.imageLength = session.imageLength;
  found.imageBytesRead = session.imageBytesRead;
  found.imageCrc = session.imageCrc;
  found.metadataRead = reachedMetadata(capture.verdict);
  found.metadata = session.metadata;
  // What the session's common end releases.
  imageBuffer.release();
  metadataBuffer.release();
  session.metadataTree.reset();

  reporter.package(std::move(found));
  if (passed) {
    return ResultEvent{std::string(packageOkCode), exitComplete,
                       "The package passes the check: an update would go on to program the "
                       "tester."};
  }
  reporter.showErrorBox(capture.verdict->code, capture.verdict->text);
  return ResultEvent{std::string(reportCodeName(capture.verdict->code)),
                     exitCodeForReport(capture.verdict->code),
                     {}};
}

}  // namespace quarn::cli
