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

  void appendStatusLine(WideView text) override;
  void showErrorBox(WideView text) override;
  void setProgramEnabled(bool enabled) override;

  std::vector<std::string> lines;
  std::vector<std::string> boxes;
  bool programEnabled = true;

 private:
  EventLog& log_;
};

}  // namespace quarn::fakes
