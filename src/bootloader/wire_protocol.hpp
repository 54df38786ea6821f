#pragma once
// The bytes of every bootloader message the updater sends and every reply it accepts. Builders
// fill fixed arrays the caller owns; parsers read a reply and the count the reply wait gave, and
// never look past that count. Every multi-byte number on the wire is little-endian.
#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>

#include "bootloader/device_id.hpp"

namespace quarn {

// Image bytes in every data block but the last.
inline constexpr uint32_t maxBlockData = 60;

inline constexpr size_t bootloaderRequestLength = 14;
inline constexpr size_t deviceIdRequestLength = 27;
inline constexpr size_t appSignatureLength = 20;
inline constexpr size_t startRequestLength = 3;
inline constexpr size_t blockHeaderLength = 3;
inline constexpr size_t maxDataBlockLength = blockHeaderLength + maxBlockData;

// The reply wait reads once this many bytes are queued, so a reply read is never shorter.
inline constexpr uint32_t deviceIdReplyMinimum = 14;
inline constexpr uint32_t signatureReplyMinimum = 2;
inline constexpr uint32_t startReplyMinimum = 3;
inline constexpr uint32_t blockAckMinimum = 3;
inline constexpr uint32_t completionReplyMinimum = 2;

using BootloaderRequest = std::array<uint8_t, bootloaderRequestLength>;
using DeviceIdRequest = std::array<uint8_t, deviceIdRequestLength>;
using AppSignature = std::array<uint8_t, appSignatureLength>;
using StartRequest = std::array<uint8_t, startRequestLength>;
using DataBlock = std::array<uint8_t, maxDataBlockLength>;

enum class SignatureVerdict { accepted, rejected, noVerdict };
enum class StartVerdict { ready, refused, noReply };
enum class CompletionVerdict { complete, g0UpdateFailed, imageCrcFailed, noVerdict };

// The text command that makes the application firmware restart into the bootloader.
BootloaderRequest makeBootloaderRequest();

// Announces the image. Sizes go out as their two's-complement pattern; only the low byte of
// encryptionStatus is sent.
DeviceIdRequest makeDeviceIdRequest(int32_t packageSize, uint32_t packageCrc,
                                    int32_t encryptionStatus, int32_t h7Size, uint32_t h7Crc,
                                    int32_t g0Size, uint32_t g0Crc);
std::optional<DeviceId> parseDeviceIdReply(std::span<const uint8_t> reply, uint32_t count);

// The product magic followed by the device ID, its twelve bytes in the order they arrived.
AppSignature makeAppSignature(const DeviceId& deviceId);
SignatureVerdict parseSignatureReply(std::span<const uint8_t> reply, uint32_t count);

StartRequest makeStartRequest();
StartVerdict parseStartReply(std::span<const uint8_t> reply, uint32_t count);

// Writes the low 16 bits of blockCounter and the image bytes (at most maxBlockData of them are
// taken) into block; gives the number of bytes of block to send.
size_t makeDataBlock(DataBlock& block, uint32_t blockCounter, std::span<const uint8_t> imageBytes);
// The acknowledged block number, or nothing when no acknowledgement was read.
std::optional<uint16_t> parseBlockAck(std::span<const uint8_t> reply, uint32_t count);

CompletionVerdict parseCompletionReply(std::span<const uint8_t> reply, uint32_t count);

}  // namespace quarn
