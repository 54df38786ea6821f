#include "package/firmware_package.hpp"

#include <algorithm>

#include "package/crc32.hpp"
#include "package/metadata_reader.hpp"
#include "session/messages.hpp"
#include "session/status_reporting.hpp"

namespace quarn {

WideText packageFilePath(WideView programFilePath, char16_t separator, WideView fileName) {
  const size_t lastSeparator = programFilePath.rfind(separator);
  WideText path(lastSeparator == WideView::npos ? WideView{}
                                                : programFilePath.substr(0, lastSeparator + 1));
  path += fileName;
  return path;
}

WholeFileRead readWholeFile(PackageFileSystem& files, WideView path, PackageBuffer& slot) {
  // The file is closed when this object goes, straight after the single read.
  const std::unique_ptr<PackageFile> file = files.openForReading(path);
  if (!file) return {};
  // A size that cannot be read, or a buffer that cannot be had, leaves nothing to read into;
  // the file is then reported as not found rather than read into a wrong-sized buffer.
  const std::optional<uint32_t> size = file->size();
  if (!size || !slot.allocate(*size)) return {};
  const uint32_t bytesRead = std::min(file->read(slot.data(), *size), *size);
  return {true, *size, bytesRead};
}

PackageCheck checkPackage(uint32_t imageLength, uint32_t imageCrc,
                          const FirmwareMetadata& metadata) {
  if (imageLength > maxImageLength) return PackageCheck::sizeMismatch;
  if (static_cast<uint32_t>(metadata.packageSize) != imageLength) return PackageCheck::sizeMismatch;
  if (metadata.packageCrc != imageCrc) return PackageCheck::crc32Mismatch;
  // Exact single-precision equality; a NaN on either side is unequal.
  if (!(metadata.h7Version == metadata.g0Version)) return PackageCheck::versionMismatch;
  return PackageCheck::packageOk;
}

namespace {

// The program's directory is worked out afresh for each file. A program path with no directory
// in it leaves nowhere to look, so the file counts as not found instead of being sought in
// whatever the current directory happens to be.
WholeFileRead readPackageFile(PackageFileSystem& files, WideView fileName, PackageBuffer& slot) {
  const WideText programPath = files.programFilePath();
  const char16_t separator = files.pathSeparator();
  if (programPath.find(separator) == WideText::npos) return {};
  return readWholeFile(files, packageFilePath(programPath, separator, fileName), slot);
}

// The box comes first; the port is closed only once the user has dismissed it.
bool refuse(UpdateSession& session, SessionPlatform& platform, const Message& box) {
  showErrorBox(platform.outlets, box);
  session.port.reset();
  return false;
}

// The box of a failed check; none for a package that passes.
const Message* checkMessage(PackageCheck check) {
  switch (check) {
    case PackageCheck::sizeMismatch:
      return &messages::sizeMismatch;
    case PackageCheck::crc32Mismatch:
      return &messages::crc32Mismatch;
    case PackageCheck::versionMismatch:
      return &messages::versionMismatch;
    case PackageCheck::packageOk:
      break;
  }
  return nullptr;
}

}  // namespace

bool loadFirmwarePackage(UpdateSession& session, SessionPlatform& platform) {
  const WholeFileRead image = readPackageFile(platform.files, firmwareFileName, imageBuffer);
  if (!image.found) return refuse(session, platform, messages::firmwareFileMissing);
  session.imageLength = image.size;
  session.imageBytesRead = image.bytesRead;
  // Rebuilt in every session, after the image is read and before its CRC is taken.
  buildCrc32Table();
  session.imageCrc = computeCrc32(imageBuffer.data(), image.bytesRead);

  const WholeFileRead metadata = readPackageFile(platform.files, metadataFileName, metadataBuffer);
  if (!metadata.found) return refuse(session, platform, messages::metadataFileMissing);
  session.metadataTree = parseMetadataText(metadataBuffer.data(), metadata.bytesRead);
  if (!session.metadataTree || !readMetadataValues(*session.metadataTree, session.metadata)) {
    return refuse(session, platform, messages::metadataUnparsable);
  }

  const PackageCheck check = checkPackage(session.imageLength, session.imageCrc, session.metadata);
  if (const Message* box = checkMessage(check)) return refuse(session, platform, *box);
  return true;
}

}  // namespace quarn
