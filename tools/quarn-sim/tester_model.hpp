#pragma once
// The simulated tester: its application firmware, which only takes the bootloader request, and
// its bootloader. It cuts the received byte stream into messages, answers them and assembles the
// image; it does no I/O, so the event loop decides when bytes arrive and when replies leave.
#include <cstddef>
#include <cstdint>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "sim_options.hpp"

namespace quarn::sim {

using Bytes = std::vector<uint8_t>;

// What to do with the front of the received bytes.
struct FrameDecision {
  enum class Kind { wait, message, discard };
  Kind kind = Kind::wait;
  size_t length = 0;
};

struct TesterResponse {
  std::string note;                 // what the message was, for the log
  std::optional<Bytes> reply;       // answer at once (before reply delay and line pacing)
  std::optional<Bytes> completion;  // answer a while after the reply
  uint32_t holdMs = 0;              // the reply is held back this long (--hold-reply)
  bool enteredBootloader = false;
  bool unplug = false;            // vanish now, without answering
  bool unplugAfterReply = false;  // vanish once the updater has read the reply
  bool completed = false;         // the image reached its announced size and was checked
  bool imageGood = false;
};

struct TesterCounters {
  uint64_t bytesReceived = 0;  // bytes of the messages and discarded bytes
  uint64_t discardedBytes = 0;
  uint64_t violations = 0;  // messages a correct updater never sends at that point
  uint64_t blocksAppended = 0;
  uint64_t imagesGood = 0;
  uint64_t imagesBad = 0;
};

class TesterModel {
 public:
  explicit TesterModel(const SimOptions& options);

  bool inBootloader() const { return bootloader_; }

  // Cuts the received bytes; quiet means no byte has arrived for the framing gap.
  FrameDecision frame(const Bytes& received, bool quiet) const;

  TesterResponse handle(const Bytes& message);

  // Counts bytes that frame() told the caller to throw away.
  void noteDiscarded(size_t count);

  const Bytes& image() const { return image_; }
  const TesterCounters& counters() const { return counters_; }

 private:
  FrameDecision frameApplication(const Bytes& received, bool quiet) const;
  FrameDecision frameBootloader(const Bytes& received, bool quiet) const;
  std::optional<size_t> blockLength(uint32_t index) const;

  TesterResponse handleApplication(const Bytes& message);
  TesterResponse handleDeviceId(const Bytes& message);
  TesterResponse handleSignature(const Bytes& message);
  TesterResponse handleStart(const Bytes& message);
  TesterResponse handleBlock(const Bytes& message);
  void finishImage(TesterResponse& response);
  TesterResponse violation(std::string note);

  bool silent(Step step) const;
  bool unplugsAt(Step step) const;
  bool malformed(Malformed kind) const;
  void holdOnce(Step step, TesterResponse& response);
  TesterResponse handleLastBlockAgain();

  const SimOptions& options_;
  bool bootloader_ = false;
  bool identified_ = false;
  bool signatureAccepted_ = false;
  bool transferOpen_ = false;
  uint32_t announcedSize_ = 0;
  uint32_t announcedCrc_ = 0;
  uint32_t nextBlock_ = 0;  // index of the block the bootloader waits for
  Bytes lastBlock_;         // the last appended block as received, to check resendings
  Bytes image_;
  uint32_t wrongBlockUsed_ = 0;
  uint32_t dropAckUsed_ = 0;
  std::set<Step> holdsUsed_;
  bool blockHoldUsed_ = false;
  // After the image was complete the tester has left its bootloader, but a resending of the
  // last block (its acknowledgement was late) is still answered with that acknowledgement.
  bool lastBlockAckable_ = false;
  uint32_t lastBlockIndex_ = 0;
  TesterCounters counters_;
};

std::string toHex(const uint8_t* bytes, size_t count);

}  // namespace quarn::sim
