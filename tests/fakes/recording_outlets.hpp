#pragma once
#include <string>
#include <vector>

#include "fakes/event_log.hpp"
#include "session/status_outlets.hpp"

namespace quarn::fakes {

// Records lines and boxes as UTF-8 ("line:..." / "box:..." / "program:on|off" in the log).
class RecordingOutlets : public StatusOutlets {
 public:
  explicit RecordingOutlets(EventLog& log) : log_(log) {}

  void appendStatusLine(ReportCode code, WideView text) override;
  void showErrorBox(ReportCode code, WideView text) override;
  void setProgramEnabled(bool enabled) override;

  std::vector<std::string> lines;
  std::vector<std::string> boxes;
  std::vector<ReportCode> codes;  // of every line and box, in order
  bool programEnabled = true;

 private:
  EventLog& log_;
};

}  // namespace quarn::fakes
