#pragma once
// A recorded session played back as the tester: from a quarn-update trace it takes, step by step
// (bootloader request, device-ID request, app signature, start request, each block by its
// number, completion), what the recorded tester answered and how long after the step's first
// message, where it said nothing, and where it went away. The host that talks to the replay may
// be a newer program with other bounds: it may send a step more or fewer times than the recorded
// host did, and the replies still come at their recorded times. What must not change is what each
// step's first message carries; at the first difference the replay stops and says where.
#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "tester_model.hpp"

namespace quarn::sim {

enum class ReplayStepKind { bootloader, deviceId, signature, start, block };

struct RecordedReply {
  std::chrono::microseconds after{0};  // from the step's first message
  Bytes bytes;
};

struct RecordedStep {
  ReplayStepKind kind = ReplayStepKind::bootloader;
  uint32_t block = 0;  // the number on the wire, for a block
  size_t line = 0;     // the trace line of the step's first message
  // The first message as recorded: its bytes, or for an elided block its length and CRC-32.
  std::optional<Bytes> bytes;
  size_t length = 0;
  uint32_t crc32 = 0;
  std::vector<RecordedReply> replies;
  std::optional<std::chrono::microseconds> goneAfter;  // the tester vanished then
};

struct ReplayScript {
  std::vector<RecordedStep> steps;
  // The completion verdict, timed from the last acknowledgement of the last block.
  std::optional<RecordedReply> completion;
  // How long the tester was away after the bootloader request; nothing when it never came back.
  std::optional<std::chrono::milliseconds> restartAway;
  size_t lines = 0;
};

// Reads a trace; on failure errorText names the line and what is wrong with it.
std::optional<ReplayScript> loadReplayScript(const std::string& path, std::string& errorText);

struct ReplayAnswer {
  std::vector<RecordedReply> replies;                  // from now
  std::optional<std::chrono::microseconds> goneAfter;  // vanish this long from now
  bool enteredBootloader = false;
  bool last = false;                   // the recorded session has nothing after this step
  std::optional<std::string> differs;  // the host departed from the recording: why
};

class ReplayTester {
 public:
  explicit ReplayTester(const ReplayScript& script) : script_(script) {}

  // The host's next message, as the tester model framed it.
  ReplayAnswer answer(const Bytes& message);
  // The completion verdict after the last block's acknowledgement, if recorded.
  const std::optional<RecordedReply>& completion() const { return script_.completion; }
  const ReplayScript& script() const { return script_; }

 private:
  const ReplayScript& script_;
  std::optional<size_t> current_;  // index of the step the host is in
};

// The step a message of the host begins or repeats; nothing for bytes no host sends.
std::optional<std::pair<ReplayStepKind, uint32_t>> classifyHostMessage(const Bytes& message);

}  // namespace quarn::sim
