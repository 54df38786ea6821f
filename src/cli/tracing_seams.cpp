#include "cli/tracing_seams.hpp"

#include <vector>

namespace quarn::cli {
namespace {

class TracingPort : public SerialPort {
 public:
  TracingPort(std::unique_ptr<SerialPort> port, TraceRecorder& trace)
      : port_(std::move(port)), trace_(trace) {}
  ~TracingPort() override {
    port_.reset();
    trace_.closed();
  }
  TracingPort(const TracingPort&) = delete;
  TracingPort& operator=(const TracingPort&) = delete;

  // The three calls of one configuration make one event: it failed at the first call that did,
  // and succeeded once the time-outs are set.
  bool readPortState() override { return configuring(port_->readPortState(), false); }
  bool applyLineSettings(const LineSettings& settings) override {
    return configuring(port_->applyLineSettings(settings), false);
  }
  bool applyNonBlockingTimeouts() override {
    return configuring(port_->applyNonBlockingTimeouts(), true);
  }

  void write(std::span<const uint8_t> bytes) override {
    trace_.sent(bytes);
    port_->write(bytes);
  }
  std::optional<uint32_t> queuedInputBytes() override {
    const std::optional<uint32_t> queued = port_->queuedInputBytes();
    if (!queued && !goneReported_) {
      goneReported_ = true;
      trace_.gone();
    }
    return queued;
  }
  uint32_t read(std::span<uint8_t> destination) override {
    const uint32_t count = port_->read(destination);
    trace_.received(destination.first(std::min<size_t>(count, destination.size())));
    return count;
  }
  void waitForInput(uint32_t queuedNow, uint32_t wanted, uint32_t maxMilliseconds) override {
    port_->waitForInput(queuedNow, wanted, maxMilliseconds);
  }
  // Stale bytes thrown away unread are not in the trace: the replay plays what the host read.
  void discardInput() override { port_->discardInput(); }

 private:
  bool configuring(bool ok, bool last) {
    if (!ok) {
      trace_.configured(false);
    } else if (last) {
      trace_.configured(true);
    }
    return ok;
  }

  std::unique_ptr<SerialPort> port_;
  TraceRecorder& trace_;
  bool goneReported_ = false;
};

}  // namespace

TracingPortOpener::TracingPortOpener(PortOpener& ports, TraceRecorder& trace,
                                     std::function<std::string(uint32_t)> errorName)
    : ports_(ports), trace_(trace), errorName_(std::move(errorName)) {}

std::unique_ptr<SerialPort> TracingPortOpener::openPort(WideView devicePath) {
  std::unique_ptr<SerialPort> port = ports_.openPort(devicePath);
  const std::string path = toUtf8(devicePath);
  if (!port) {
    const uint32_t error = ports_.lastOpenFailure().osError;
    trace_.openFailed(path, errorName_ ? errorName_(error) : std::to_string(error));
    return nullptr;
  }
  trace_.opened(path);
  return std::make_unique<TracingPort>(std::move(port), trace_);
}

void TracingClock::sleepMilliseconds(uint32_t milliseconds) {
  trace_.paused(milliseconds);
  clock_.sleepMilliseconds(milliseconds);
}

}  // namespace quarn::cli
