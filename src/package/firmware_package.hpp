#pragma once
#include <cstdint>

#include "bootloader/wire_protocol.hpp"
#include "package/firmware_metadata.hpp"
#include "package/package_buffers.hpp"
#include "package/package_files.hpp"
#include "session/session_platform.hpp"
#include "session/update_session.hpp"

namespace quarn {

inline constexpr WideView firmwareFileName = u"QUARN.bin";
inline constexpr WideView metadataFileName = u"metadata.json";

// A data block carries at most 60 image bytes and its acknowledgement only the low 16 bits of the
// block counter, so a block past the 65,536th can never be acknowledged. A larger image is refused
// as a size mismatch before anything is sent, instead of leaving the tester half-programmed.
inline constexpr uint32_t maxImageLength = 65536u * maxBlockData;

enum class PackageCheck { packageOk, sizeMismatch, crc32Mismatch, versionMismatch };

// The file's path in the program's directory: everything up to and including the last separator
// of the program path, then the file name. No length limit.
WideText packageFilePath(WideView programFilePath, char16_t separator, WideView fileName);

struct WholeFileRead {
  bool found = false;  // false: the file could not be opened, sized or buffered
  uint32_t size = 0;
  uint32_t bytesRead = 0;
};
// Opens the file, allocates exactly its size into slot, reads it with one read and closes it.
WholeFileRead readWholeFile(PackageFileSystem& files, WideView path, PackageBuffer& slot);

// Size (as 32-bit patterns, and within maxImageLength), then CRC-32, then the two versions.
PackageCheck checkPackage(uint32_t imageLength, uint32_t imageCrc,
                          const FirmwareMetadata& metadata);

// Reads and checks the package. On failure it has shown its box and closed session.port; what it
// allocated stays for the common end to release.
bool loadFirmwarePackage(UpdateSession& session, SessionPlatform& platform);

}  // namespace quarn
