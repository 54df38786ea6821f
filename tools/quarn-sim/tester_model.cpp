#include "tester_model.hpp"

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "package/crc32.hpp"

namespace quarn::sim {

namespace {

constexpr uint8_t bootloaderRequest[] = {0x02, 'B', 'O', 'O', 'T', 'L', 'O',
                                         'A',  'D', 'E', 'R', '=', '1', 0x03};
constexpr size_t bootloaderRequestLength = sizeof bootloaderRequest;
constexpr size_t deviceIdRequestLength = 27;
constexpr size_t signatureLength = 20;
constexpr size_t startLength = 3;
constexpr size_t maxBlockData = 60;
constexpr size_t maxBlockLength = 3 + maxBlockData;
constexpr uint8_t productMagic[] = {'Q', 'U', 'A', 'R', 'N', '_'};
constexpr uint16_t notAuthorisedWord = 2;

uint32_t readLe32(const Bytes& bytes, size_t offset) {
  return uint32_t{bytes[offset]} | uint32_t{bytes[offset + 1]} << 8 |
         uint32_t{bytes[offset + 2]} << 16 | uint32_t{bytes[offset + 3]} << 24;
}

uint16_t readLe16(const Bytes& bytes, size_t offset) {
  return static_cast<uint16_t>(bytes[offset] | bytes[offset + 1] << 8);
}

Bytes statusWordReply(uint16_t word) {
  return {0x00, static_cast<uint8_t>(word & 0xFFu), static_cast<uint8_t>(word >> 8)};
}

std::string format(const char* pattern, auto... values) {
  char text[160];
  std::snprintf(text, sizeof text, pattern, values...);
  return text;
}

// The tester vanishes when this message arrives, without answering it.
TesterResponse unpluggedAt(const char* what) {
  TesterResponse response;
  response.note = format("%s: unplugged", what);
  response.unplug = true;
  return response;
}

}  // namespace

std::string toHex(const uint8_t* bytes, size_t count) {
  std::string text;
  text.reserve(count * 3);
  for (size_t i = 0; i < count; ++i) {
    char pair[4];
    std::snprintf(pair, sizeof pair, i == 0 ? "%02X" : " %02X", bytes[i]);
    text += pair;
  }
  return text;
}

TesterModel::TesterModel(const SimOptions& options) : options_(options) {
  buildCrc32Table();
}

bool TesterModel::silent(Step step) const {
  return options_.silentAt.contains(step);
}

bool TesterModel::unplugsAt(Step step) const {
  return options_.unplugAt == step;
}

bool TesterModel::malformed(Malformed kind) const {
  return options_.malformed.contains(kind);
}

void TesterModel::holdOnce(Step step, TesterResponse& response) {
  const auto hold = options_.holdReplyMs.find(step);
  if (hold == options_.holdReplyMs.end() || holdsUsed_.contains(step) || !response.reply) return;
  holdsUsed_.insert(step);
  response.holdMs = hold->second;
  response.note += format(" (reply held back %u ms)", hold->second);
}

void TesterModel::noteDiscarded(size_t count) {
  counters_.bytesReceived += count;
  counters_.discardedBytes += count;
}

// Framing. The updater writes every message in a single write and then waits for the reply, so
// on a pty a message normally arrives in one piece and alone. Two things can still happen: a
// piece may be split over several reads, and a resending after a lost reply may arrive right
// behind the earlier copy. So a message is complete as soon as its length is known to be there:
// the fixed length for the fixed-size messages, and for a data block the length that the
// announced image size gives the block its header names (the awaited block or a resending of
// the previous one). A block has no length field, so anything else (a block of another number,
// a wrong length, an unknown first byte) is cut where the line has been quiet for the framing
// gap or at the longest message of 63 bytes. Bytes behind a complete message stay for the next.
FrameDecision TesterModel::frame(const Bytes& received, bool quiet) const {
  if (received.empty()) return {};
  if (!bootloader_ && lastBlockAckable_ && received[0] == 0xFF) {
    const size_t compared = std::min(received.size(), lastBlock_.size());
    if (std::memcmp(received.data(), lastBlock_.data(), compared) == 0) {
      if (compared == lastBlock_.size()) return {FrameDecision::Kind::message, compared};
      if (!quiet) return {};
    }
  }
  return bootloader_ ? frameBootloader(received, quiet) : frameApplication(received, quiet);
}

// The application firmware looks only for the framed text command; everything else is noise.
FrameDecision TesterModel::frameApplication(const Bytes& received, bool quiet) const {
  using Kind = FrameDecision::Kind;
  const auto start = std::find(received.begin(), received.end(), bootloaderRequest[0]);
  if (start != received.begin()) {
    return {Kind::discard, static_cast<size_t>(start - received.begin())};
  }
  const size_t compared = std::min(received.size(), bootloaderRequestLength);
  if (std::memcmp(received.data(), bootloaderRequest, compared) != 0) return {Kind::discard, 1};
  if (compared == bootloaderRequestLength) return {Kind::message, bootloaderRequestLength};
  return quiet ? FrameDecision{Kind::discard, received.size()} : FrameDecision{};
}

FrameDecision TesterModel::frameBootloader(const Bytes& received, bool quiet) const {
  using Kind = FrameDecision::Kind;
  const size_t size = received.size();
  const FrameDecision cutHere{Kind::message, std::min(size, maxBlockLength)};
  switch (received[0]) {
    case 0xFD:
      if (size >= deviceIdRequestLength) return {Kind::message, deviceIdRequestLength};
      break;
    case 0xFE:
      if (size >= signatureLength) return {Kind::message, signatureLength};
      break;
    case 0xFF:
      // A known length comes first: a short last block followed by more bytes is cut at its own
      // end, not at the longest message.
      if (transferOpen_ && size >= 3) {
        const uint16_t number = readLe16(received, 1);
        for (uint32_t index : {nextBlock_, nextBlock_ - 1}) {
          if (index == nextBlock_ - 1 && nextBlock_ == 0) continue;
          if ((index & 0xFFFFu) != number) continue;
          const auto length = blockLength(index);
          if (length && size >= *length) return {Kind::message, *length};
        }
      }
      if (!transferOpen_ && size >= startLength && received[1] == 0xFF && received[2] == 0xFF) {
        return {Kind::message, startLength};
      }
      if (size >= maxBlockLength) return cutHere;
      break;
    default:
      break;
  }
  return quiet ? cutHere : FrameDecision{};
}

std::optional<size_t> TesterModel::blockLength(uint32_t index) const {
  const uint64_t offset = uint64_t{index} * maxBlockData;
  if (offset >= announcedSize_) return std::nullopt;
  return 3 + static_cast<size_t>(std::min<uint64_t>(maxBlockData, announcedSize_ - offset));
}

TesterResponse TesterModel::handle(const Bytes& message) {
  counters_.bytesReceived += message.size();
  if (!bootloader_ && lastBlockAckable_ && message == lastBlock_) return handleLastBlockAgain();
  if (!bootloader_) return handleApplication(message);
  switch (message[0]) {
    case 0xFD:
      return handleDeviceId(message);
    case 0xFE:
      return handleSignature(message);
    case 0xFF:
      if (message.size() == startLength && message[1] == 0xFF && message[2] == 0xFF) {
        return handleStart(message);
      }
      return handleBlock(message);
    default:
      return violation(format("unknown message of %zu bytes ignored", message.size()));
  }
}

TesterResponse TesterModel::violation(std::string note) {
  ++counters_.violations;
  TesterResponse response;
  response.note = "VIOLATION: " + std::move(note);
  return response;
}

TesterResponse TesterModel::handleLastBlockAgain() {
  TesterResponse response;
  response.note = format("block %u again after the image was complete: acknowledged, not stored",
                         lastBlockIndex_);
  if (!silent(Step::block)) response.reply = statusWordReply(lastBlockIndex_ & 0xFFFFu);
  return response;
}

TesterResponse TesterModel::handleApplication(const Bytes&) {
  lastBlockAckable_ = false;
  if (unplugsAt(Step::bootloader)) return unpluggedAt("bootloader request");
  TesterResponse response;
  if (silent(Step::bootloader)) {
    response.note = "bootloader request ignored";
    return response;
  }
  bootloader_ = true;
  identified_ = false;
  signatureAccepted_ = false;
  transferOpen_ = false;
  response.enteredBootloader = true;
  response.note = "bootloader request: restarting into the bootloader";
  return response;
}

TesterResponse TesterModel::handleDeviceId(const Bytes& message) {
  if (message.size() != deviceIdRequestLength || message.back() != 0xFF) {
    return violation(format("device-ID request of %zu bytes, last byte %02X, ignored",
                            message.size(), message.back()));
  }
  if (unplugsAt(Step::deviceId)) return unpluggedAt("device-ID request");
  announcedSize_ = readLe32(message, 1);
  announcedCrc_ = readLe32(message, 5);
  identified_ = true;
  signatureAccepted_ = false;
  transferOpen_ = false;
  TesterResponse response;
  response.note = format("device-ID request: size %u crc %08X encryption %u h7 %u/%08X g0 %u/%08X",
                         announcedSize_, announcedCrc_, message[9], readLe32(message, 10),
                         readLe32(message, 14), readLe32(message, 18), readLe32(message, 22));
  if (silent(Step::deviceId)) return response;

  Bytes reply{0xFD};
  reply.insert(reply.end(), options_.deviceId.begin(), options_.deviceId.end());
  reply.push_back(0xFF);
  if (malformed(Malformed::deviceId)) reply.back() = 0x00;
  if (malformed(Malformed::deviceIdStart)) reply.front() = 0xFE;
  response.reply = std::move(reply);
  holdOnce(Step::deviceId, response);
  return response;
}

TesterResponse TesterModel::handleSignature(const Bytes& message) {
  if (message.size() != signatureLength || message.back() != 0xFF) {
    return violation(format("app signature of %zu bytes, last byte %02X, ignored", message.size(),
                            message.back()));
  }
  if (unplugsAt(Step::signature)) return unpluggedAt("app signature");
  const bool magicMatches =
      std::equal(std::begin(productMagic), std::end(productMagic), message.begin() + 1);
  const bool idMatches =
      std::equal(options_.deviceId.begin(), options_.deviceId.end(), message.begin() + 7);
  signatureAccepted_ = magicMatches && idMatches && !options_.rejectSignature;

  TesterResponse response =
      identified_ ? TesterResponse{} : violation("app signature before any device-ID request");
  response.note += format("%sapp signature: magic %s, ID %s, %s", response.note.empty() ? "" : "; ",
                          magicMatches ? "ok" : "wrong", idMatches ? "ok" : "wrong",
                          signatureAccepted_ ? "accepted" : "rejected");
  if (silent(Step::signature)) return response;
  if (malformed(Malformed::signature)) {
    response.reply = Bytes{0xFE, 0x00};
  } else {
    response.reply = signatureAccepted_ ? Bytes{0xFE, 0xFF} : Bytes{0x00, 0xFF};
  }
  holdOnce(Step::signature, response);
  return response;
}

TesterResponse TesterModel::handleStart(const Bytes&) {
  if (unplugsAt(Step::start)) return unpluggedAt("start request");
  if (!signatureAccepted_) {
    TesterResponse response = violation("start request without an accepted app signature");
    if (!silent(Step::start)) response.reply = statusWordReply(notAuthorisedWord);
    return response;
  }
  TesterResponse response;
  if (silent(Step::start)) {
    response.note = "start request (not answered)";
    return response;
  }
  if (options_.refuseStartWord) {
    response.note = "start request refused";
    response.reply = statusWordReply(*options_.refuseStartWord);
    return response;
  }
  // A start request while a transfer is open means the host did not see the ready reply: the
  // transfer starts over.
  transferOpen_ = true;
  nextBlock_ = 0;
  lastBlock_.clear();
  image_.clear();
  response.note = "start request: ready";
  response.reply = malformed(Malformed::start) ? Bytes{0x00, 0x00} : statusWordReply(0);
  holdOnce(Step::start, response);
  if (announcedSize_ == 0) finishImage(response);
  return response;
}

TesterResponse TesterModel::handleBlock(const Bytes& message) {
  if (!transferOpen_) return violation("data block outside an open transfer ignored");
  if (message.size() < 4)
    return violation(format("data block of %zu bytes ignored", message.size()));

  const uint16_t number = readLe16(message, 1);
  const bool awaited = number == (nextBlock_ & 0xFFFFu);
  const bool resent = !awaited && nextBlock_ > 0 && number == ((nextBlock_ - 1) & 0xFFFFu);
  const uint32_t index = awaited ? nextBlock_ : resent ? nextBlock_ - 1 : nextBlock_;
  const size_t dataLength = message.size() - 3;

  if (awaited && options_.unplugAtBlock == index) {
    return unpluggedAt(format("block %u", index).c_str());
  }

  TesterResponse response;
  uint16_t acknowledged = number;
  if (awaited) {
    const auto expected = blockLength(index);
    if (!expected || *expected != message.size()) {
      response = violation(format("block %u carries %zu bytes, %zu expected", index, dataLength,
                                  expected ? *expected - 3 : 0));
    }
    if (silent(Step::block)) {
      response.note +=
          format("%sblock %u (not answered)", response.note.empty() ? "" : "; ", index);
      return response;
    }
    image_.insert(image_.end(), message.begin() + 3, message.end());
    lastBlock_ = message;
    ++nextBlock_;
    ++counters_.blocksAppended;
    response.note +=
        format("%sblock %u: %zu bytes, image %zu of %u", response.note.empty() ? "" : "; ", index,
               dataLength, image_.size(), announcedSize_);
  } else if (resent) {
    if (message != lastBlock_) response = violation("resent block differs from its first sending");
    response.note += format("%sblock %u again: acknowledged, not stored",
                            response.note.empty() ? "" : "; ", index);
  } else {
    response = violation(format("block number %u while block %u is awaited", number, nextBlock_));
    acknowledged = static_cast<uint16_t>(nextBlock_ & 0xFFFFu);
  }
  if (silent(Step::block)) return response;

  if (options_.wrongBlock && options_.wrongBlock->block == index && (awaited || resent) &&
      (options_.wrongBlock->count == 0 || wrongBlockUsed_ < options_.wrongBlock->count)) {
    ++wrongBlockUsed_;
    acknowledged = static_cast<uint16_t>((index + 1) & 0xFFFFu);
    response.note += format(", acknowledged as %u", acknowledged);
  }
  if (options_.dropBlockAck && options_.dropBlockAck->block == index && (awaited || resent) &&
      dropAckUsed_ < options_.dropBlockAck->count) {
    ++dropAckUsed_;
    response.note += ", acknowledgement swallowed";
  } else if (malformed(Malformed::block)) {
    response.reply = Bytes{0x00, static_cast<uint8_t>(acknowledged & 0xFFu)};
  } else {
    response.reply = statusWordReply(acknowledged);
  }
  if (awaited && response.reply && options_.holdBlockAck && options_.holdBlockAck->block == index &&
      !blockHoldUsed_) {
    blockHoldUsed_ = true;
    response.holdMs = options_.holdBlockAck->count;
    response.note += format(", acknowledgement held back %u ms", response.holdMs);
  }
  if (awaited && image_.size() >= announcedSize_) finishImage(response);
  return response;
}

// The bootloader checks the assembled image against the announced size and CRC-32 and then
// leaves for the application firmware.
void TesterModel::finishImage(TesterResponse& response) {
  const uint32_t crc = computeCrc32(image_.data(), image_.size());
  const bool good = image_.size() == announcedSize_ && crc == announcedCrc_;
  (good ? counters_.imagesGood : counters_.imagesBad) += 1;
  response.completed = true;
  response.imageGood = good;
  lastBlockAckable_ = !image_.empty();
  lastBlockIndex_ = nextBlock_ - 1;
  response.note +=
      format("; image complete: %zu bytes crc %08X, %s", image_.size(), crc, good ? "good" : "BAD");
  if (unplugsAt(Step::completion)) {
    response.note += "; unplugged while the verdict is awaited";
    response.unplugAfterReply = true;
  } else if (!silent(Step::completion)) {
    const uint8_t status = options_.completionStatus.value_or(good ? 0xFC : 0x01);
    response.completion =
        malformed(Malformed::completion) ? Bytes{0xFC, 0x00} : Bytes{status, 0xFF};
  }
  bootloader_ = false;
  identified_ = false;
  signatureAccepted_ = false;
  transferOpen_ = false;
}

}  // namespace quarn::sim
