#pragma once
// The session's port opener, with a gate that lets another thread close the open port at once
// (Ctrl-C). The session thread may sit in a blocking call on the port - the completion wait can
// last a minute - and a port must never be closed under a call that is still running on it, so
// the gate knows when such a call is in progress: the interrupting thread then makes the call
// return (wake) and the session thread closes the port as soon as it is back. A port that is
// idle is closed by the interrupting thread itself. Either way the port's own destructor closes
// it, so every adapter's clean-up (the tty's exclusive flag, say) happens as on a normal end.
#include <functional>
#include <memory>

#include "cli/console_seams.hpp"
#include "link/serial_port.hpp"
#include "session/clock.hpp"

namespace quarn::cli {

class PortGate : public PortOpener {
 public:
  PortGate(PortOpener& ports, CliMutex& mutex, Clock& clock);

  // One port at a time, as the session opens them (it closes the first before the reopening).
  std::unique_ptr<SerialPort> openPort(WideView devicePath) override;
  // The adapter's own reason; after an interruption, a final failure.
  OpenFailure lastOpenFailure() const override;

  // From another thread: refuses every later opening and closes the open port, if any. While a
  // call on it is in progress, wake runs every wakeIntervalMs until that call has returned.
  // True once no port is open; false if a call still runs after boundMs (a driver that ignores
  // the wake), in which case the port is left to the process's end.
  bool closeForInterrupt(const std::function<void()>& wake, uint32_t boundMs);

  // The wake is repeated at this pace: one sent just before the session thread enters its
  // blocking call (a signal that lands before poll, a cancel before ReadFile has begun) would
  // otherwise be lost, and the call would last its whole bound.
  static constexpr uint32_t wakeIntervalMs = 10;

 private:
  class GatedPort;

  // Runs call on the open port unless the gate is closed (then gives fallback).
  template <typename Call, typename Result>
  Result pass(Call call, Result fallback);
  void releasePort();

  PortOpener& ports_;
  CliMutex& mutex_;
  Clock& clock_;
  std::unique_ptr<SerialPort> open_;
  bool busy_ = false;    // the session thread is inside a call on open_, or inside an opening
  bool closed_ = false;  // interrupted: no port will be opened again
  OpenFailure lastFailure_;
};

}  // namespace quarn::cli
