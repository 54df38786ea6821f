#include "fakes/recording_outlets.hpp"

namespace quarn::fakes {

void RecordingOutlets::appendStatusLine(WideView text) {
  lines.push_back(toUtf8(text));
  log_.add("line:" + lines.back());
}

void RecordingOutlets::showErrorBox(WideView text) {
  boxes.push_back(toUtf8(text));
  log_.add("box:" + boxes.back());
}

void RecordingOutlets::setProgramEnabled(bool enabled) {
  programEnabled = enabled;
  log_.add(enabled ? "program:on" : "program:off");
}

}  // namespace quarn::fakes
