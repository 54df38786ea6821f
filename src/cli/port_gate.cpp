#include "cli/port_gate.hpp"

#include <mutex>

namespace quarn::cli {

class PortGate::GatedPort : public SerialPort {
 public:
  explicit GatedPort(PortGate& gate) : gate_(gate) {}
  ~GatedPort() override { gate_.releasePort(); }
  GatedPort(const GatedPort&) = delete;
  GatedPort& operator=(const GatedPort&) = delete;

  bool readPortState() override {
    return gate_.pass([](SerialPort& p) { return p.readPortState(); }, false);
  }
  bool applyLineSettings(const LineSettings& settings) override {
    return gate_.pass([&](SerialPort& p) { return p.applyLineSettings(settings); }, false);
  }
  bool applyNonBlockingTimeouts() override {
    return gate_.pass([](SerialPort& p) { return p.applyNonBlockingTimeouts(); }, false);
  }
  void write(std::span<const uint8_t> bytes) override {
    gate_.pass(
        [&](SerialPort& p) {
          p.write(bytes);
          return true;
        },
        false);
  }
  std::optional<uint32_t> queuedInputBytes() override {
    return gate_.pass([](SerialPort& p) { return p.queuedInputBytes(); },
                      std::optional<uint32_t>());
  }
  uint32_t read(std::span<uint8_t> destination) override {
    return gate_.pass([&](SerialPort& p) { return p.read(destination); }, uint32_t{0});
  }
  void waitForInput(uint32_t queuedNow, uint32_t wanted, uint32_t maxMilliseconds) override {
    gate_.pass(
        [&](SerialPort& p) {
          p.waitForInput(queuedNow, wanted, maxMilliseconds);
          return true;
        },
        false);
  }

 private:
  PortGate& gate_;
};

PortGate::PortGate(PortOpener& ports, CliMutex& mutex, Clock& clock)
    : ports_(ports), mutex_(mutex), clock_(clock) {}

template <typename Call, typename Result>
Result PortGate::pass(Call call, Result fallback) {
  SerialPort* port = nullptr;
  {
    const std::lock_guard lock(mutex_);
    if (closed_ || !open_) return fallback;
    busy_ = true;
    port = open_.get();  // not closed by anyone else while busy_
  }
  Result result = call(*port);
  const std::lock_guard lock(mutex_);
  // Closed before busy_ drops: the interrupting thread goes on only once the port is shut.
  if (closed_) open_.reset();
  busy_ = false;
  return closed_ ? fallback : result;
}

std::unique_ptr<SerialPort> PortGate::openPort(WideView devicePath) {
  {
    const std::lock_guard lock(mutex_);
    lastFailure_ = {};
    if (closed_) return nullptr;
    busy_ = true;
  }
  std::unique_ptr<SerialPort> port = ports_.openPort(devicePath);
  const OpenFailure failure = port ? OpenFailure{} : ports_.lastOpenFailure();
  const std::lock_guard lock(mutex_);
  busy_ = false;
  if (closed_) port.reset();
  if (!port) {
    if (!closed_) lastFailure_ = failure;
    return nullptr;
  }
  open_ = std::move(port);
  return std::make_unique<GatedPort>(*this);
}

OpenFailure PortGate::lastOpenFailure() const {
  const std::lock_guard lock(mutex_);
  return lastFailure_;
}

void PortGate::releasePort() {
  const std::lock_guard lock(mutex_);
  open_.reset();
}

bool PortGate::closeForInterrupt(const std::function<void()>& wake, uint32_t boundMs) {
  const uint64_t deadline = clock_.nowMilliseconds() + boundMs;
  std::unique_lock lock(mutex_);
  closed_ = true;
  while (busy_) {
    lock.unlock();
    wake();
    clock_.sleepMilliseconds(wakeIntervalMs);
    lock.lock();
    if (busy_ && clock_.nowMilliseconds() >= deadline) return false;
  }
  open_.reset();
  return true;
}

}  // namespace quarn::cli
