#include "bootloader/wire_protocol.hpp"

#include <algorithm>

namespace quarn {
namespace {

constexpr uint8_t startOfText = 0x02;
constexpr uint8_t endOfText = 0x03;
constexpr uint8_t deviceIdMarker = 0xFD;
constexpr uint8_t signatureMarker = 0xFE;
constexpr uint8_t commandMarker = 0xFF;
constexpr uint8_t trailer = 0xFF;
constexpr uint8_t verdictMarker = 0xFF;
constexpr uint8_t completeStatus = 0xFC;
constexpr uint8_t g0FailedStatus = 0x00;

constexpr std::array<uint8_t, 12> bootloaderCommand = {'B', 'O', 'O', 'T', 'L', 'O',
                                                       'A', 'D', 'E', 'R', '=', '1'};
constexpr std::array<uint8_t, 6> productMagic = {'Q', 'U', 'A', 'R', 'N', '_'};

void putWord(uint8_t* at, uint32_t value) {
  for (int i = 0; i < 4; ++i) at[i] = static_cast<uint8_t>(value >> (8 * i));
}

uint32_t getWord(const uint8_t* at) {
  uint32_t value = 0;
  for (int i = 3; i >= 0; --i) value = (value << 8) | at[i];
  return value;
}

uint16_t getHalfWord(const uint8_t* at) {
  return static_cast<uint16_t>(at[0] | (at[1] << 8));
}

// A reply shorter than its minimum cannot come from the reply wait; it is read as nothing
// rather than letting a parser look at bytes the read never wrote.
bool present(std::span<const uint8_t> reply, uint32_t count, uint32_t minimum) {
  return count >= minimum && reply.size() >= minimum;
}

}  // namespace

BootloaderRequest makeBootloaderRequest() {
  BootloaderRequest request{};
  request[0] = startOfText;
  std::copy(bootloaderCommand.begin(), bootloaderCommand.end(), request.begin() + 1);
  request[13] = endOfText;
  return request;
}

DeviceIdRequest makeDeviceIdRequest(int32_t packageSize, uint32_t packageCrc,
                                    int32_t encryptionStatus, int32_t h7Size, uint32_t h7Crc,
                                    int32_t g0Size, uint32_t g0Crc) {
  DeviceIdRequest request{};
  request[0] = deviceIdMarker;
  putWord(&request[1], static_cast<uint32_t>(packageSize));
  putWord(&request[5], packageCrc);
  request[9] = static_cast<uint8_t>(encryptionStatus & 0xFF);
  putWord(&request[10], static_cast<uint32_t>(h7Size));
  putWord(&request[14], h7Crc);
  putWord(&request[18], static_cast<uint32_t>(g0Size));
  putWord(&request[22], g0Crc);
  request[26] = trailer;
  return request;
}

std::optional<DeviceId> parseDeviceIdReply(std::span<const uint8_t> reply, uint32_t count) {
  if (!present(reply, count, deviceIdReplyMinimum)) return std::nullopt;
  if (reply[0] != deviceIdMarker || reply[13] != trailer) return std::nullopt;
  return DeviceId{getWord(&reply[1]), getWord(&reply[5]), getWord(&reply[9])};
}

AppSignature makeAppSignature(const DeviceId& deviceId) {
  AppSignature message{};
  message[0] = signatureMarker;
  std::copy(productMagic.begin(), productMagic.end(), message.begin() + 1);
  for (size_t i = 0; i < deviceId.size(); ++i) putWord(&message[7 + 4 * i], deviceId[i]);
  message[19] = trailer;
  return message;
}

SignatureVerdict parseSignatureReply(std::span<const uint8_t> reply, uint32_t count) {
  if (!present(reply, count, signatureReplyMinimum) || reply[1] != verdictMarker) {
    return SignatureVerdict::noVerdict;
  }
  return reply[0] == signatureMarker ? SignatureVerdict::accepted : SignatureVerdict::rejected;
}

StartRequest makeStartRequest() {
  return {commandMarker, commandMarker, commandMarker};
}

StartVerdict parseStartReply(std::span<const uint8_t> reply, uint32_t count) {
  if (!present(reply, count, startReplyMinimum)) return StartVerdict::noReply;
  return getHalfWord(&reply[1]) == 0 ? StartVerdict::ready : StartVerdict::refused;
}

size_t makeDataBlock(DataBlock& block, uint32_t blockCounter, std::span<const uint8_t> imageBytes) {
  const size_t n = std::min<size_t>(imageBytes.size(), maxBlockData);
  block[0] = commandMarker;
  block[1] = static_cast<uint8_t>(blockCounter);
  block[2] = static_cast<uint8_t>(blockCounter >> 8);
  std::copy_n(imageBytes.begin(), n, block.begin() + blockHeaderLength);
  return blockHeaderLength + n;
}

std::optional<uint16_t> parseBlockAck(std::span<const uint8_t> reply, uint32_t count) {
  if (!present(reply, count, blockAckMinimum)) return std::nullopt;
  return getHalfWord(&reply[1]);
}

CompletionVerdict parseCompletionReply(std::span<const uint8_t> reply, uint32_t count) {
  if (!present(reply, count, completionReplyMinimum) || reply[1] != verdictMarker) {
    return CompletionVerdict::noVerdict;
  }
  if (reply[0] == completeStatus) return CompletionVerdict::complete;
  if (reply[0] == g0FailedStatus) return CompletionVerdict::g0UpdateFailed;
  return CompletionVerdict::imageCrcFailed;
}

}  // namespace quarn
