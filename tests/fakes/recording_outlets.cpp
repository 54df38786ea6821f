#include "fakes/recording_outlets.hpp"

namespace quarn::fakes {

void RecordingOutlets::appendStatusLine(ReportCode code, WideView text) {
  codes.push_back(code);
  lines.push_back(toUtf8(text));
  log_.add("line:" + lines.back());
}

void RecordingOutlets::showErrorBox(ReportCode code, WideView text) {
  codes.push_back(code);
  boxes.push_back(toUtf8(text));
  log_.add("box:" + boxes.back());
}

void RecordingOutlets::setProgramEnabled(bool enabled) {
  programEnabled = enabled;
  log_.add(enabled ? "program:on" : "program:off");
}

}  // namespace quarn::fakes
