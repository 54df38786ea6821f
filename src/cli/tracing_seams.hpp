#pragma once
// Wrappers of the session's port opener, its ports and its clock that write every opening,
// write, read, pause and loss of the port into a trace as it happens, and otherwise pass each
// call through unchanged. The session does not know they are there.
#include <functional>
#include <memory>
#include <string>

#include "cli/trace_recorder.hpp"
#include "link/serial_port.hpp"
#include "session/clock.hpp"

namespace quarn::cli {

class TracingPortOpener : public PortOpener {
 public:
  // errorName names an OS error number as the system does ("ENOENT"; "2" on Windows).
  TracingPortOpener(PortOpener& ports, TraceRecorder& trace,
                    std::function<std::string(uint32_t)> errorName);
  std::unique_ptr<SerialPort> openPort(WideView devicePath) override;
  OpenFailure lastOpenFailure() const override { return ports_.lastOpenFailure(); }

 private:
  PortOpener& ports_;
  TraceRecorder& trace_;
  std::function<std::string(uint32_t)> errorName_;
};

// Pauses of the session are what the trace calls "pause"; readings of the time pass through.
class TracingClock : public Clock {
 public:
  TracingClock(Clock& clock, TraceRecorder& trace) : clock_(clock), trace_(trace) {}
  uint64_t nowMilliseconds() override { return clock_.nowMilliseconds(); }
  uint64_t nowMicroseconds() override { return clock_.nowMicroseconds(); }
  void sleepMilliseconds(uint32_t milliseconds) override;

 private:
  Clock& clock_;
  TraceRecorder& trace_;
};

}  // namespace quarn::cli
