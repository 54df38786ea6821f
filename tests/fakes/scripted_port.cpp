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
  if (!reply.later.empty()) {
    tester_.arriving.push_back({clock_.now + reply.laterMs, std::move(reply.later)});
    std::stable_sort(tester_.arriving.begin(), tester_.arriving.end(),
                     [](const TimedBytes& a, const TimedBytes& b) { return a.at < b.at; });
  }
}

void ScriptedPort::deliverArrived() {
  while (!tester_.arriving.empty() && tester_.arriving.front().at <= clock_.now) {
    const std::vector<uint8_t>& bytes = tester_.arriving.front().bytes;
    tester_.inputQueue.insert(tester_.inputQueue.end(), bytes.begin(), bytes.end());
    tester_.arriving.erase(tester_.arriving.begin());
  }
}

void ScriptedPort::discardInput() {
  deliverArrived();
  tester_.discarded.push_back(static_cast<uint32_t>(tester_.inputQueue.size()));
  log_.add("discard:" + std::to_string(tester_.inputQueue.size()));
  tester_.inputQueue.clear();
}

std::optional<uint32_t> ScriptedPort::queuedInputBytes() {
  if (tester_.failQueueStatus) return std::nullopt;
  deliverArrived();
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
  // Only "later" bytes arrive on their own: the clock runs to the first of them, or the whole
  // allowance passes.
  const uint64_t until = clock_.now + maxMilliseconds;
  if (!tester_.arriving.empty() && tester_.arriving.front().at < until) {
    clock_.now = std::max(clock_.now, tester_.arriving.front().at);
  } else {
    clock_.now = until;
  }
  deliverArrived();
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
