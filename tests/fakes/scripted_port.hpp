#pragma once
// A serial port whose tester is a script: each write takes the next scripted reply, whose bytes
// are queued at once ("now") or only after the next read ("afterRead", e.g. a completion reply
// that follows the last acknowledgement). A write with no scripted reply left gets silence.
#include <deque>
#include <optional>
#include <vector>

#include "fakes/event_log.hpp"
#include "fakes/fake_clock.hpp"
#include "link/serial_port.hpp"

namespace quarn::fakes {

struct Reply {
  std::vector<uint8_t> now;
  std::vector<uint8_t> afterRead;
};
inline Reply silence() {
  return {};
}

// State shared by every opening of the port: the tester outlives a close and reopen.
struct ScriptedTester {
  std::deque<Reply> replies;
  std::deque<uint8_t> inputQueue;  // bytes queued on the port now (stale bytes may be put here)
  std::vector<uint8_t> pendingAfterRead;
  std::vector<std::vector<uint8_t>> writes;

  std::deque<bool> openResults;  // per opening; an empty queue means the open succeeds
  // The reason each failed opening gives, in turn; none left: a final failure without an error.
  std::deque<OpenFailure> openFailures;
  bool failStateRead = false;
  bool failStateApply = false;
  bool failTimeouts = false;
  bool failQueueStatus = false;
  std::optional<LineSettings> appliedSettings;
  int openPorts = 0;  // currently open handles
  int opens = 0;
  std::vector<uint32_t> readSizes;  // capacity offered to each read
};

class ScriptedPort : public SerialPort {
 public:
  ScriptedPort(ScriptedTester& tester, FakeClock& clock, EventLog& log);
  ~ScriptedPort() override;

  bool readPortState() override;
  bool applyLineSettings(const LineSettings& settings) override;
  bool applyNonBlockingTimeouts() override;
  void write(std::span<const uint8_t> bytes) override;
  std::optional<uint32_t> queuedInputBytes() override;
  uint32_t read(std::span<uint8_t> destination) override;
  void waitForInput(uint32_t queuedNow, uint32_t wanted, uint32_t maxMilliseconds) override;

 private:
  ScriptedTester& tester_;
  FakeClock& clock_;
  EventLog& log_;
};

class ScriptedPortOpener : public PortOpener {
 public:
  ScriptedPortOpener(ScriptedTester& tester, FakeClock& clock, EventLog& log)
      : tester_(tester), clock_(clock), log_(log) {}
  std::unique_ptr<SerialPort> openPort(WideView devicePath) override;
  OpenFailure lastOpenFailure() const override { return lastFailure_; }

 private:
  ScriptedTester& tester_;
  FakeClock& clock_;
  EventLog& log_;
  OpenFailure lastFailure_;
};

}  // namespace quarn::fakes
