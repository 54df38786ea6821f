#pragma once
#include <cstdint>

#include "package/firmware_metadata.hpp"
#include "package/package_buffers.hpp"
#include "package/package_files.hpp"
#include "session/session_platform.hpp"
#include "session/update_session.hpp"

namespace quarn {

inline constexpr WideView firmwareFileName = u"QUARN.bin";
inline constexpr WideView metadataFileName = u"metadata.json";

enum class PackageCheck { packageOk, sizeMismatch, crc32Mismatch, versionMismatch };

// The file's path in the program's directory: everything up to and including the last separator
// of the program path, then the file name. No length limit.
WideText packageFilePath(WideView programFilePath, char16_t separator, WideView fileName);

struct WholeFileRead {
  bool found = false;  // false: the file could not be opened, sized or buffered
  uint32_t size = 0;
  uint32_t bytesRead = 0;
};
WholeFileRead readWholeFile(PackageFileSystem& files, WideView path, PackageBuffer& slot);

PackageCheck checkPackage(uint32_t imageLength, uint32_t imageCrc,
                          const FirmwareMetadata& metadata);

// Reads and checks the package. On failure it has shown its box and closed session.port; what it
// allocated stays for the common end to release.
bool loadFirmwarePackage(UpdateSession& session, SessionPlatform& platform);

}  // namespace quarn
