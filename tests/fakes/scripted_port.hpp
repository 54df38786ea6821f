#pragma once
// A serial port whose tester is a script: each write takes the next scripted reply, whose bytes
// are queued at once ("now"), only after the next read ("afterRead", e.g. a completion reply
// that follows the last acknowledgement), or laterMs after the write ("later", a slow or late
// answer: the fake clock runs to it while the link waits). A write with no scripted reply left
// gets silence.
#include <deque>
#include <optional>
#include <utility>
#include <vector>

#include "fakes/event_log.hpp"
#include "fakes/fake_clock.hpp"
#include "link/serial_port.hpp"

namespace quarn::fakes {

struct Reply {
  Reply() = default;
  Reply(std::vector<uint8_t> nowBytes, std::vector<uint8_t> afterReadBytes = {},
        std::vector<uint8_t> laterBytes = {}, uint32_t laterMilliseconds = 0)
      : now(std::move(nowBytes)),
        afterRead(std::move(afterReadBytes)),
        later(std::move(laterBytes)),
        laterMs(laterMilliseconds) {}

  std::vector<uint8_t> now;
  std::vector<uint8_t> afterRead;
  std::vector<uint8_t> later;
  uint32_t laterMs = 0;
};
// A reply whose bytes arrive laterMs after the message was written.
inline Reply after(uint32_t laterMs, std::vector<uint8_t> bytes) {
  return Reply{{}, {}, std::move(bytes), laterMs};
}

struct TimedBytes {
  uint64_t at;
  std::vector<uint8_t> bytes;
};
inline Reply silence() {
  return {};
}

// State shared by every opening of the port: the tester outlives a close and reopen.
struct ScriptedTester {
  std::deque<Reply> replies;
  std::deque<uint8_t> inputQueue;  // bytes queued on the port now (stale bytes may be put here)
  std::vector<uint8_t> pendingAfterRead;
  std::vector<TimedBytes> arriving;  // queued once the clock reaches their time
  std::vector<uint32_t> discarded;   // the count of each discard
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
  void discardInput() override;
  void waitForInput(uint32_t queuedNow, uint32_t wanted, uint32_t maxMilliseconds) override;

 private:
  void deliverArrived();

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
