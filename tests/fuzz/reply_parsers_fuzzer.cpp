// Every bootloader reply parser over arbitrary bytes and an arbitrary count. The count is what the
// reply wait says it read; it may claim more than the bytes there are, and the parsers must never
// look past the bytes received (they sit in an allocation of exactly their size), nor at bytes at
// or past the count (the receive buffer keeps an earlier reply's bytes there).
#include <cstdint>
#include <span>

#include "bootloader/wire_protocol.hpp"
#include "fuzz_support.hpp"

namespace {

using namespace quarn;
using fuzz::require;

struct Verdicts {
  std::optional<DeviceId> deviceId;
  SignatureVerdict signature;
  StartVerdict start;
  std::optional<uint16_t> blockAck;
  CompletionVerdict completion;

  bool operator==(const Verdicts&) const = default;
};

Verdicts parseAll(std::span<const uint8_t> reply, uint32_t count) {
  return {parseDeviceIdReply(reply, count), parseSignatureReply(reply, count),
          parseStartReply(reply, count), parseBlockAck(reply, count),
          parseCompletionReply(reply, count)};
}

// What each reply means, from the bytes the reply wait read; checked only when the count says at
// least the minimum was read and the bytes are all there.
void checkMeaning(const Verdicts& verdicts, std::span<const uint8_t> reply, uint32_t count) {
  const auto readAtLeast = [&](uint32_t minimum) {
    return count >= minimum && reply.size() >= minimum;
  };
  if (!readAtLeast(deviceIdReplyMinimum)) {
    require(!verdicts.deviceId, "a device ID from a reply shorter than 14 bytes");
  } else if (verdicts.deviceId) {
    require(reply[0] == 0xFD && reply[13] == 0xFF, "a device ID from a reply without its markers");
    // The app signature carries the twelve ID bytes as they arrived.
    const AppSignature signature = makeAppSignature(*verdicts.deviceId);
    require(std::equal(reply.begin() + 1, reply.begin() + 13, signature.begin() + 7),
            "the device ID does not round-trip into the app signature");
  } else {
    require(reply[0] != 0xFD || reply[13] != 0xFF, "a marked device-ID reply refused");
  }

  if (!readAtLeast(signatureReplyMinimum) || reply[1] != 0xFF) {
    require(verdicts.signature == SignatureVerdict::noVerdict, "a signature verdict from nothing");
    require(verdicts.completion == CompletionVerdict::noVerdict, "a completion from nothing");
  } else {
    require(verdicts.signature ==
                (reply[0] == 0xFE ? SignatureVerdict::accepted : SignatureVerdict::rejected),
            "signature verdict");
    const CompletionVerdict completion = reply[0] == 0xFC   ? CompletionVerdict::complete
                                         : reply[0] == 0x00 ? CompletionVerdict::g0UpdateFailed
                                                            : CompletionVerdict::imageCrcFailed;
    require(verdicts.completion == completion, "completion verdict");
  }

  if (!readAtLeast(startReplyMinimum)) {
    require(verdicts.start == StartVerdict::noReply, "a start verdict from nothing");
    require(!verdicts.blockAck, "a block acknowledgement from nothing");
  } else {
    const auto word = static_cast<uint16_t>(reply[1] | reply[2] << 8);
    require(verdicts.start == (word == 0 ? StartVerdict::ready : StartVerdict::refused),
            "start verdict");
    require(verdicts.blockAck == word, "acknowledged block number");
  }
}

}  // namespace

// Input: the count as four little-endian bytes, then the reply bytes.
extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 4) return 0;
  const uint32_t count = uint32_t{data[0]} | uint32_t{data[1]} << 8 | uint32_t{data[2]} << 16 |
                         uint32_t{data[3]} << 24;
  fuzz::ExactBytes reply(std::span<const uint8_t>(data + 4, size - 4));
  const Verdicts verdicts = parseAll(reply.span(), count);
  checkMeaning(verdicts, reply.span(), count);

  // Bytes at and past the count are left over from an earlier reply: changing them must not
  // change any outcome.
  for (size_t i = count; i < reply.span().size(); ++i) reply.data()[i] ^= 0xFF;
  require(parseAll(reply.span(), count) == verdicts, "a byte past the count changed an outcome");
  return 0;
}
