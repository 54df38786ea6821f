#pragma once
// The console face of a session: status lines on standard output as they are, error boxes on
// standard error, and a one-line progress bar while blocks go out to a terminal.
#include <cstdio>
#include <optional>

#include "session/status_outlets.hpp"

namespace quarn::cli {

class ConsoleOutlets : public StatusOutlets {
 public:
  ConsoleOutlets(std::FILE* out, std::FILE* err, bool drawProgress);

  void appendStatusLine(ReportCode code, WideView text) override;
  void showErrorBox(ReportCode code, WideView text) override;
  void setProgramEnabled(bool) override {}
  void reportTransferProgress(uint32_t bytesAcknowledged, uint32_t imageLength) override;

  // The code of the last line or box: the session's final report.
  std::optional<ReportCode> lastReport() const { return lastReport_; }

 private:
  void clearProgress();

  std::FILE* out_;
  std::FILE* err_;
  bool drawProgress_;
  bool progressShown_ = false;
  uint64_t transferStartMs_ = 0;
  uint64_t lastDrawMs_ = 0;
  std::optional<ReportCode> lastReport_;
};

}  // namespace quarn::cli
