#include "bootloader/programming_sequence.hpp"

#include <algorithm>
#include <span>

#include "bootloader/wire_protocol.hpp"
#include "link/serial_link.hpp"
#include "package/package_buffers.hpp"
#include "session/messages.hpp"
#include "session/status_reporting.hpp"

namespace quarn {
namespace {

// Sendings of the device-ID request, the app signature and the start request. Every step builds
// its bytes once, before its first sending: a reply never changes what a resend carries.
constexpr int stepAttempts = 3;
// Sendings of one data block: the first and up to three more.
constexpr int blockSendings = 4;

std::span<const uint8_t> receivedReply(const UpdateSession& session) {
  return std::span<const uint8_t>(session.receiveBuffer);
}

// The application firmware takes the request and restarts into the bootloader, which comes back
// by the same device path; the port is held open across the pause and reopened after it. What
// "the same device path" means is the platform's: on Linux the tty now beneath the tester's USB
// location, which may have another name. The reopening waits a bounded time for it to appear.
bool restartIntoBootloader(UpdateSession& session, SessionPlatform& platform) {
  const BootloaderRequest request = makeBootloaderRequest();
  sendMessage(session, request);
  platform.clock.sleepMilliseconds(bootloaderRestartPauseMs);
  session.port.reset();
  if (!reopenTesterPort(session, platform)) return false;
  configurePort(*session.port, platform.outlets);
  return true;
}

// Every control step's wait: its own bound, counted from the sending, and the slow-reply note.
uint32_t awaitStepReply(UpdateSession& session, SessionPlatform& platform, uint32_t minimum,
                        uint32_t boundMs) {
  const uint64_t sentAt = platform.clock.nowMilliseconds();
  return awaitReply(session, platform.clock, &platform.outlets,
                    ReplyWait{minimum, sentAt + boundMs, sentAt + slowReplyNoteMs, 0});
}

// The bytes of a read beyond the reply at its front go to the front of the receive buffer, where
// the next wait finds them leading; gives their count.
uint32_t keepBeyond(UpdateSession& session, uint32_t count, uint32_t replyLength) {
  if (count <= replyLength) return 0;
  std::copy(session.receiveBuffer.begin() + replyLength, session.receiveBuffer.begin() + count,
            session.receiveBuffer.begin());
  return count - replyLength;
}

// Whether the reply at the front of the receive buffer is an acknowledgement of this block (the
// 16-bit number compared with the whole counter, so a block past 65,535 never matches).
bool acknowledges(const UpdateSession& session, uint32_t count, uint32_t blockCounter) {
  const std::optional<uint16_t> ack = parseBlockAck(receivedReply(session), count);
  return ack && uint32_t{*ack} == blockCounter;
}

bool retrieveDeviceId(UpdateSession& session, SessionPlatform& platform) {
  const FirmwareMetadata& m = session.metadata;
  const DeviceIdRequest request = makeDeviceIdRequest(
      m.packageSize, m.packageCrc, m.encryptionStatus, m.h7Size, m.h7Crc, m.g0Size, m.g0Crc);
  for (int attempt = 0; attempt < stepAttempts; ++attempt) {
    sendMessage(session, request);
    const uint32_t count =
        awaitStepReply(session, platform, deviceIdReplyMinimum, deviceIdReplyBoundMs);
    if (const std::optional<DeviceId> id = parseDeviceIdReply(receivedReply(session), count)) {
      session.deviceId = *id;
      return true;
    }
  }
  showErrorBox(platform.outlets, messages::deviceIdFailed);
  return false;
}

// A verdict against the signature is final: sending it again cannot change the tester's mind.
bool verifyAppSignature(UpdateSession& session, SessionPlatform& platform) {
  const AppSignature message = makeAppSignature(session.deviceId);
  for (int attempt = 0; attempt < stepAttempts; ++attempt) {
    sendMessage(session, message);
    const uint32_t count =
        awaitStepReply(session, platform, signatureReplyMinimum, signatureReplyBoundMs);
    switch (parseSignatureReply(receivedReply(session), count)) {
      case SignatureVerdict::accepted:
        return true;
      case SignatureVerdict::rejected:
        showErrorBox(platform.outlets, messages::signatureMismatch);
        return false;
      case SignatureVerdict::noVerdict:
        break;
    }
  }
  showErrorBox(platform.outlets, messages::signatureFailed);
  return false;
}

// Gives the count of bytes read beyond the ready reply (they lead the completion wait of an
// empty image), or nullopt when the transfer is not open.
std::optional<uint32_t> openTransfer(UpdateSession& session, SessionPlatform& platform) {
  const StartRequest request = makeStartRequest();
  for (int attempt = 0; attempt < stepAttempts; ++attempt) {
    sendMessage(session, request);
    const uint32_t count = awaitStepReply(session, platform, startReplyMinimum, startReplyBoundMs);
    switch (parseStartReply(receivedReply(session), count)) {
      case StartVerdict::ready:
        return keepBeyond(session, count, startReplyMinimum);
      case StartVerdict::refused:
        showErrorBox(platform.outlets, messages::startRefused);
        return std::nullopt;
      case StartVerdict::noReply:
        break;
    }
  }
  showErrorBox(platform.outlets, messages::startFailed);
  return std::nullopt;
}

enum class BlockOutcome { acknowledged, wrongNumber, noReply };

// What one block's sendings share: acknowledgements of the previous block that may still come
// (one per extra sending of it), and what was read beyond the acknowledgement.
struct BlockWait {
  uint32_t lateAllowance = 0;
  uint32_t beyond = 0;
};

// The wait for block k's acknowledgement. An acknowledgement of block k-1 read here is a late
// answer to an earlier sending of k-1: that block was sent more than once, the tester answered
// each sending, and an answer that came after its wait gave up (or behind the one that was
// taken) arrives now. Read as k's answer it would be a wrong number and use up one of k's
// sendings, and the "one behind" state could carry on from block to block. So its 3 bytes are
// dropped, block k's acknowledgement is taken if it was read behind them, and the wait goes on
// within the same bound, counting no failure. Only as many are dropped as k-1 had extra sendings
// (each can bring one late answer); beyond that, and for every other number, the reply is a
// wrong number as before, so a tester that always echoes the previous number still fails with
// "1 Failed to program firmware.". The discard before every sending (sendMessage) removes late
// answers that are already queued; this covers those that arrive while k is awaited.
// Known limit: a control reply (device ID, signature, start) later than its bound can still
// arrive after the next step's message was sent and be read as that message's reply; the
// bounds are generous for that reason.
BlockOutcome sendBlockOnce(UpdateSession& session, SessionPlatform& platform,
                           std::span<const uint8_t> block, uint32_t blockCounter,
                           BlockWait& state) {
  sendMessage(session, block);
  const uint64_t sentAt = platform.clock.nowMilliseconds();
  ReplyWait wait{blockAckMinimum, sentAt + blockAckBoundMs, sentAt + slowReplyNoteMs, 0};
  for (;;) {
    const uint32_t count = awaitReply(session, platform.clock, &platform.outlets, wait);
    if (count == 0) return BlockOutcome::noReply;
    if (acknowledges(session, count, blockCounter)) {
      state.beyond = keepBeyond(session, count, blockAckMinimum);
      return BlockOutcome::acknowledged;
    }
    if (blockCounter == 0 || state.lateAllowance == 0 ||
        !acknowledges(session, count, blockCounter - 1)) {
      return BlockOutcome::wrongNumber;
    }
    --state.lateAllowance;
    wait.leading = keepBeyond(session, count, blockAckMinimum);
  }
}

// Both kinds of failure draw on the same four sendings; the box names the kind of the last one.
// Gives the number of sendings the acknowledged block took, 0 when it failed.
int sendBlock(UpdateSession& session, SessionPlatform& platform, uint32_t blockCounter,
              std::span<const uint8_t> imageBytes, BlockWait& state) {
  DataBlock block{};
  const size_t length = makeDataBlock(block, blockCounter, imageBytes);
  const std::span<const uint8_t> message(block.data(), length);
  BlockOutcome outcome = BlockOutcome::noReply;
  for (int sending = 0; sending < blockSendings; ++sending) {
    outcome = sendBlockOnce(session, platform, message, blockCounter, state);
    if (outcome == BlockOutcome::acknowledged) return sending + 1;
  }
  showErrorBox(platform.outlets, outcome == BlockOutcome::wrongNumber ? messages::blockWrongNumber
                                                                      : messages::blockNoReply);
  return 0;
}

// Stop-and-wait: the next block leaves as soon as the previous one is acknowledged. Gives the
// count of bytes read beyond the last acknowledgement (they lead the completion wait), or
// nullopt when the transfer failed.
std::optional<uint32_t> transferImage(UpdateSession& session, SessionPlatform& platform,
                                      uint32_t beyondStart) {
  // The image buffer was allocated with imageLength bytes; the bound only keeps a mismatch from
  // ever reading past it.
  const std::span<const uint8_t> image(imageBuffer.data(),
                                       std::min(session.imageLength, imageBuffer.size()));
  platform.outlets.reportTransferProgress(0, session.imageLength);
  uint32_t blockCounter = 0;
  size_t offset = 0;
  BlockWait state{0, beyondStart};
  while (offset < image.size()) {
    const size_t n = std::min<size_t>(image.size() - offset, maxBlockData);
    const int sendings =
        sendBlock(session, platform, blockCounter, image.subspan(offset, n), state);
    if (sendings == 0) return std::nullopt;
    state.lateAllowance = static_cast<uint32_t>(sendings - 1);
    ++blockCounter;
    offset += n;
    platform.outlets.reportTransferProgress(static_cast<uint32_t>(offset), session.imageLength);
  }
  return state.beyond;
}

// Whether the reply at the front of the receive buffer is (or, with only 2 bytes, may be the
// start of) a further acknowledgement of the last block.
enum class LastAck { no, yes, maybe };
LastAck lastBlockAckAtFront(const UpdateSession& session, uint32_t count, uint32_t lastBlock) {
  const uint8_t low = static_cast<uint8_t>(lastBlock & 0xFFu);
  const uint8_t high = static_cast<uint8_t>((lastBlock >> 8) & 0xFFu);
  if (count >= 3) {
    return session.receiveBuffer[1] == low && session.receiveBuffer[2] == high ? LastAck::yes
                                                                               : LastAck::no;
  }
  return count == 2 && session.receiveBuffer[1] == low ? LastAck::maybe : LastAck::no;
}

// Two bytes "xx LL" may be the front of a further acknowledgement whose third byte is still on
// its way. Unless LL is FF they are no verdict, and the third byte is waited for within the
// completion bound; "xx FF" is also a verdict, so its third byte is waited for only this long:
// the tester writes a reply in one piece, so its bytes come within a USB frame or two.
constexpr uint32_t ackTailWaitMs = 100;

// The tester verifies the image and updates its G0 on its own; nothing is sent for this reply,
// and a missing or malformed one ends the session without a line. What was read beyond the last
// acknowledgement leads it: a verdict written right behind that acknowledgement arrives in the
// same read. A further acknowledgement of the last block (a resent last block is acknowledged
// twice) is dropped first: 00 LL HH is never a verdict.
void reportCompletion(UpdateSession& session, SessionPlatform& platform, uint32_t leading) {
  const bool anyBlock = session.imageLength > 0;
  const uint32_t lastBlock = anyBlock ? (session.imageLength - 1) / maxBlockData : 0;
  const uint64_t deadline = platform.clock.nowMilliseconds() + completionWaitBoundMs;
  uint32_t count = 0;
  for (;;) {
    count = awaitReply(session, platform.clock, nullptr,
                       ReplyWait{completionReplyMinimum, deadline, std::nullopt, leading});
    if (count == 0 || !anyBlock) break;
    const LastAck front = lastBlockAckAtFront(session, count, lastBlock);
    if (front == LastAck::no) break;
    if (front == LastAck::maybe) {
      const uint64_t now = platform.clock.nowMilliseconds();
      const uint64_t tailDeadline =
          session.receiveBuffer[1] == 0xFF ? std::min(deadline, now + ackTailWaitMs) : deadline;
      const uint32_t more =
          awaitReply(session, platform.clock, nullptr,
                     ReplyWait{blockAckMinimum, tailDeadline, std::nullopt, count});
      if (more == 0) break;  // no third byte: the two are the verdict
      count = more;
      if (lastBlockAckAtFront(session, count, lastBlock) == LastAck::no) break;
    }
    leading = keepBeyond(session, count, blockAckMinimum);
  }
  switch (parseCompletionReply(receivedReply(session), count)) {
    case CompletionVerdict::complete:
      addStatusLine(platform.outlets, messages::programmingComplete);
      break;
    case CompletionVerdict::g0UpdateFailed:
      addStatusLine(platform.outlets, messages::g0UpdateFailed);
      break;
    case CompletionVerdict::imageCrcFailed:
      addStatusLine(platform.outlets, messages::crc32CheckFailed);
      break;
    case CompletionVerdict::noVerdict:
      break;
  }
}

// Each step has reported its own failure before it returns false; nothing more is sent after.
void runBootloaderExchange(UpdateSession& session, SessionPlatform& platform) {
  if (!retrieveDeviceId(session, platform)) return;
  platform.outlets.reportDeviceId(session.deviceId);
  if (!verifyAppSignature(session, platform)) return;
  const std::optional<uint32_t> beyondStart = openTransfer(session, platform);
  if (!beyondStart) return;
  const std::optional<uint32_t> beyondLastAck = transferImage(session, platform, *beyondStart);
  if (!beyondLastAck) return;
  reportCompletion(session, platform, *beyondLastAck);
}

}  // namespace

void programTester(UpdateSession& session, SessionPlatform& platform) {
  addStatusLine(platform.outlets, messages::burningInProgress);
  if (!restartIntoBootloader(session, platform)) return;  // no port is open
  runBootloaderExchange(session, platform);
  // Closed only here, so any error box has been dismissed while the port was still open.
  session.port.reset();
}

}  // namespace quarn
