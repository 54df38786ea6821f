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

bool retrieveDeviceId(UpdateSession& session, SessionPlatform& platform) {
  const FirmwareMetadata& m = session.metadata;
  const DeviceIdRequest request = makeDeviceIdRequest(
      m.packageSize, m.packageCrc, m.encryptionStatus, m.h7Size, m.h7Crc, m.g0Size, m.g0Crc);
  for (int attempt = 0; attempt < stepAttempts; ++attempt) {
    sendMessage(session, request);
    const uint32_t count = awaitReply(session, platform.clock, deviceIdReplyMinimum);
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
    const uint32_t count = awaitReply(session, platform.clock, signatureReplyMinimum);
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

bool openTransfer(UpdateSession& session, SessionPlatform& platform) {
  const StartRequest request = makeStartRequest();
  for (int attempt = 0; attempt < stepAttempts; ++attempt) {
    sendMessage(session, request);
    const uint32_t count = awaitReply(session, platform.clock, startReplyMinimum);
    switch (parseStartReply(receivedReply(session), count)) {
      case StartVerdict::ready:
        return true;
      case StartVerdict::refused:
        showErrorBox(platform.outlets, messages::startRefused);
        return false;
      case StartVerdict::noReply:
        break;
    }
  }
  showErrorBox(platform.outlets, messages::startFailed);
  return false;
}

enum class BlockOutcome { acknowledged, wrongNumber, noReply };

// The acknowledgement carries 16 bits and is compared with the whole counter, so a block past
// 65,535 can never be acknowledged, even by an answer whose number matches the low 16 bits.
BlockOutcome sendBlockOnce(UpdateSession& session, SessionPlatform& platform,
                           std::span<const uint8_t> block, uint32_t blockCounter) {
  sendMessage(session, block);
  const uint32_t count = awaitReply(session, platform.clock, blockAckMinimum);
  const std::optional<uint16_t> ack = parseBlockAck(receivedReply(session), count);
  if (!ack) return BlockOutcome::noReply;
  return uint32_t{*ack} == blockCounter ? BlockOutcome::acknowledged : BlockOutcome::wrongNumber;
}

// Both kinds of failure draw on the same four sendings; the box names the kind of the last one.
bool sendBlock(UpdateSession& session, SessionPlatform& platform, uint32_t blockCounter,
               std::span<const uint8_t> imageBytes) {
  DataBlock block{};
  const size_t length = makeDataBlock(block, blockCounter, imageBytes);
  const std::span<const uint8_t> message(block.data(), length);
  BlockOutcome outcome = BlockOutcome::noReply;
  for (int sending = 0; sending < blockSendings; ++sending) {
    outcome = sendBlockOnce(session, platform, message, blockCounter);
    if (outcome == BlockOutcome::acknowledged) return true;
  }
  showErrorBox(platform.outlets, outcome == BlockOutcome::wrongNumber ? messages::blockWrongNumber
                                                                      : messages::blockNoReply);
  return false;
}

// Stop-and-wait: the next block leaves as soon as the previous one is acknowledged.
bool transferImage(UpdateSession& session, SessionPlatform& platform) {
  // The image buffer was allocated with imageLength bytes; the bound only keeps a mismatch from
  // ever reading past it.
  const std::span<const uint8_t> image(imageBuffer.data(),
                                       std::min(session.imageLength, imageBuffer.size()));
  platform.outlets.reportTransferProgress(0, session.imageLength);
  uint32_t blockCounter = 0;
  size_t offset = 0;
  while (offset < image.size()) {
    const size_t n = std::min<size_t>(image.size() - offset, maxBlockData);
    if (!sendBlock(session, platform, blockCounter, image.subspan(offset, n))) return false;
    ++blockCounter;
    offset += n;
    platform.outlets.reportTransferProgress(static_cast<uint32_t>(offset), session.imageLength);
  }
  return true;
}

// The tester verifies the image and updates its G0 on its own; nothing is sent for this reply,
// and a missing or malformed one ends the session without a line.
void reportCompletion(UpdateSession& session, SessionPlatform& platform) {
  const uint32_t count =
      awaitReply(session, platform.clock, completionReplyMinimum, completionWaitBoundMs);
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
  if (!openTransfer(session, platform)) return;
  if (!transferImage(session, platform)) return;
  reportCompletion(session, platform);
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
