#pragma once
// The face for people: the session's lines as they are on standard output, errors on standard
// error, and on a terminal a progress bar redrawn in place, then a note that the tester is
// checking the image until its verdict comes; likewise while the tester restarts into its
// bootloader.
#include <string>

#include "cli/cli_events.hpp"
#include "cli/console_seams.hpp"

namespace quarn::cli {

inline constexpr std::string_view awaitingVerdictText =
    "waiting for the tester to verify the image...";
inline constexpr std::string_view awaitingBootloaderText =
    "waiting for the tester to come back as its bootloader...";

class HumanFace : public CliFace {
 public:
  HumanFace(OutputStream& out, OutputStream& err, std::string programName);
  void render(const CliEvent& event) override;

 private:
  void show(OutputStream& stream, const std::string& text);
  void showTransient(const std::string& text);  // stays until the next output replaces it
  void clearTransient();

  void renderLine(const LineEvent& event);
  void renderError(const ErrorEvent& event);
  void renderProgress(const ProgressEvent& event);
  void renderDevice(const DeviceEvent& event);
  void renderCandidates(const CandidatesEvent& event);
  void renderTester(const TesterEvent& event);
  static std::string deviceRow(const DeviceEvent& event);
  void renderPackage(const PackageEvent& event);
  void renderReconnect(const ReconnectEvent& event);
  void renderResult(const ResultEvent& event);

  OutputStream& out_;
  OutputStream& err_;
  std::string programName_;
  bool onTerminal_;
  size_t transientWidth_ = 0;  // characters of the transient line now shown, 0 for none
  uint64_t transferStartMs_ = 0;
  bool deviceHeaderShown_ = false;
};

}  // namespace quarn::cli
