#include "fakes/scripted_port.hpp"

#include <algorithm>

namespace quarn::fakes {

ScriptedPort::ScriptedPort(ScriptedTester& tester, FakeClock& clock, EventLog& log)
    : tester_(tester), clock_(clock), log_(log) {
  ++tester_.openPorts;
}

ScriptedPort::~ScriptedPort() {
  --tester_.openPorts;
  log_.add("close");
}

bool ScriptedPort::readPortState() {
  return !tester_.failStateRead;
}

bool ScriptedPort::applyLineSettings(const LineSettings& settings) {
  if (tester_.failStateApply) return false;
  tester_.appliedSettings = settings;
  return true;
}

bool ScriptedPort::applyNonBlockingTimeouts() {
  return !tester_.failTimeouts;
}

void ScriptedPort::write(std::span<const uint8_t> bytes) {
  tester_.writes.emplace_back(bytes.begin(), bytes.end());
  log_.add("write:" + hex(bytes));
  if (tester_.replies.empty()) return;
  Reply reply = std::move(tester_.replies.front());
  tester_.replies.pop_front();
  tester_.inputQueue.insert(tester_.inputQueue.end(), reply.now.begin(), reply.now.end());
  tester_.pendingAfterRead = std::move(reply.afterRead);
}

std::optional<uint32_t> ScriptedPort::queuedInputBytes() {
  if (tester_.failQueueStatus) return std::nullopt;
  return static_cast<uint32_t>(tester_.inputQueue.size());
}

uint32_t ScriptedPort::read(std::span<uint8_t> destination) {
  tester_.readSizes.push_back(static_cast<uint32_t>(destination.size()));
  const size_t count = std::min(destination.size(), tester_.inputQueue.size());
  std::copy_n(tester_.inputQueue.begin(), count, destination.begin());
  tester_.inputQueue.erase(tester_.inputQueue.begin(),
                           tester_.inputQueue.begin() + static_cast<long>(count));
  log_.add("read:" + std::to_string(count));
  tester_.inputQueue.insert(tester_.inputQueue.end(), tester_.pendingAfterRead.begin(),
                            tester_.pendingAfterRead.end());
  tester_.pendingAfterRead.clear();
  return static_cast<uint32_t>(count);
}

void ScriptedPort::waitForInput(uint32_t, uint32_t, uint32_t maxMilliseconds) {
  // Nothing arrives on its own in a script: the whole allowance passes.
  clock_.advance(maxMilliseconds);
}

std::unique_ptr<SerialPort> ScriptedPortOpener::openPort(WideView devicePath) {
  ++tester_.opens;
  bool succeeds = true;
  if (!tester_.openResults.empty()) {
    succeeds = tester_.openResults.front();
    tester_.openResults.pop_front();
  }
  log_.add(std::string(succeeds ? "open:" : "open-failed:") + toUtf8(devicePath));
  lastFailure_ = {};
  if (!succeeds) {
    if (!tester_.openFailures.empty()) {
      lastFailure_ = tester_.openFailures.front();
      tester_.openFailures.pop_front();
    }
    return nullptr;
  }
  return std::make_unique<ScriptedPort>(tester_, clock_, log_);
}

}  // namespace quarn::fakes
