// The simulated tester's receive side: arbitrary host bytes arrive in pieces, are cut into
// messages and handled as the simulator's event loop does it, under faults the command line can
// ask for.
//
// Input: two option bytes, then pieces. Option byte 0: bits 0-5 the malformed replies, bit 6 a
// rejected signature, bit 7 a refused start. Option byte 1: bits 0-5 the silent steps, bit 6 an
// unplug at block 1, bit 7 a wrong acknowledgement of block 0 and a swallowed one of block 1.
// A piece is a header byte (bits 0-5 its length, bit 6 the line falls quiet after it) and its
// bytes.
#include <cstdint>
#include <span>

#include "fuzz_support.hpp"
#include "tester_model.hpp"

namespace {

using namespace quarn::sim;
using quarn::fuzz::require;

constexpr size_t longestMessage = 63;

SimOptions optionsFrom(uint8_t faults, uint8_t steps) {
  SimOptions options;
  options.deviceId = {0x01, 0x02, 0x03, 0x04, 0x05, 0x06, 0x07, 0x08, 0x09, 0x0A, 0x0B, 0x0C};
  constexpr Malformed malformedKinds[] = {Malformed::deviceId,  Malformed::deviceIdStart,
                                          Malformed::signature, Malformed::start,
                                          Malformed::block,     Malformed::completion};
  constexpr Step silentSteps[] = {Step::bootloader, Step::deviceId, Step::signature,
                                  Step::start,      Step::block,    Step::completion};
  for (unsigned bit = 0; bit < 6; ++bit) {
    if (faults & (1u << bit)) options.malformed.insert(malformedKinds[bit]);
    if (steps & (1u << bit)) options.silentAt.insert(silentSteps[bit]);
  }
  options.rejectSignature = (faults & 0x40) != 0;
  if (faults & 0x80) options.refuseStartWord = 1;
  if (steps & 0x40) options.unplugAtBlock = 1;
  if (steps & 0x80) {
    options.wrongBlock = BlockFault{0, 1};
    options.dropBlockAck = BlockFault{1, 1};
  }
  return options;
}

// The event loop's framing: cut messages off the front of the received bytes until the model
// waits for more; a quiet line must always let it decide.
class ReceiveSide {
 public:
  explicit ReceiveSide(const SimOptions& options) : model_(options) {}

  bool unplugged() const { return unplugged_; }

  void arrive(std::span<const uint8_t> piece) {
    received_.insert(received_.end(), piece.begin(), piece.end());
    arrived_ += piece.size();
  }

  void frameMessages(bool quiet) {
    while (!received_.empty() && !unplugged_) {
      // Framed over a copy of exactly the received bytes: a vector's spare capacity is not
      // poisoned, so a look past them would go unseen in received_ itself.
      const FrameDecision decision = model_.frame(Bytes(received_), quiet);
      if (decision.kind == FrameDecision::Kind::wait) {
        require(!quiet, "the model waits on a quiet line: the event loop would spin");
        return;
      }
      require(decision.length > 0 && decision.length <= received_.size(),
              "a cut outside the received bytes");
      require(decision.kind == FrameDecision::Kind::discard || decision.length <= longestMessage,
              "a message longer than the longest the host sends");
      const auto end = received_.begin() + static_cast<std::ptrdiff_t>(decision.length);
      const Bytes message(received_.begin(), end);
      received_.erase(received_.begin(), end);
      if (decision.kind == FrameDecision::Kind::discard) {
        model_.noteDiscarded(message.size());
      } else {
        handle(message);
      }
    }
  }

  // Every byte that arrived is counted once, as a message's or as discarded, or is still queued
  // (or was lost in a restart).
  void checkCounts() const {
    require(model_.counters().bytesReceived + received_.size() + lostInRestarts_ == arrived_,
            "received bytes miscounted");
  }

 private:
  void handle(const Bytes& message) {
    const TesterResponse response = model_.handle(message);
    require(!response.reply || response.reply->size() <= longestMessage, "an oversized reply");
    if (response.unplug) unplugged_ = true;
    if (response.enteredBootloader) {
      // The tester restarts: whatever was on its way in is lost.
      lostInRestarts_ += received_.size();
      received_.clear();
    }
  }

  TesterModel model_;
  Bytes received_;
  uint64_t arrived_ = 0;
  uint64_t lostInRestarts_ = 0;
  bool unplugged_ = false;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 2) return 0;
  const SimOptions options = optionsFrom(data[0], data[1]);
  ReceiveSide tester(options);
  size_t at = 2;
  while (at < size && !tester.unplugged()) {
    const uint8_t header = data[at++];
    const size_t length = std::min<size_t>(header & 0x3Fu, size - at);
    tester.arrive(std::span<const uint8_t>(data + at, length));
    at += length;
    tester.frameMessages(false);
    if (header & 0x40) tester.frameMessages(true);
    tester.checkCounts();
  }
  return 0;
}
