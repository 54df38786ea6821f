// metadata.json as the package stage reads it: the bytes read (in an allocation of exactly their
// size, as the metadata buffer is), parsed, its values taken, and the package check run against a
// fixed image.
#include <array>
#include <cstdint>

#include "fuzz_support.hpp"
#include "package/crc32.hpp"
#include "package/firmware_package.hpp"
#include "package/metadata_reader.hpp"

namespace {

using namespace quarn;
using fuzz::require;

// A 130-byte image: two full blocks and a short one.
struct FixedImage {
  std::array<uint8_t, 130> bytes{};
  uint32_t crc = 0;

  FixedImage() {
    for (size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<uint8_t>(i * 7 + 1);
    buildCrc32Table();
    crc = computeCrc32(bytes.data(), bytes.size());
  }
};

// The check's verdict from the values, in its order: size, CRC-32, versions.
PackageCheck expectedCheck(const FixedImage& image, const FirmwareMetadata& values) {
  if (values.packageSize != static_cast<int32_t>(image.bytes.size())) {
    return PackageCheck::sizeMismatch;
  }
  if (values.packageCrc != image.crc) return PackageCheck::crc32Mismatch;
  if (values.h7Version != values.g0Version) return PackageCheck::versionMismatch;
  return PackageCheck::packageOk;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const FixedImage image;
  if (size > UINT32_MAX) return 0;
  fuzz::ExactBytes metadata(std::span<const uint8_t>(data, size));
  const MetadataTree tree = parseMetadataText(metadata.data(), static_cast<uint32_t>(size));
  if (!tree) return 0;

  FirmwareMetadata values;
  if (!readMetadataValues(*tree, values)) return 0;
  const PackageCheck check =
      checkPackage(static_cast<uint32_t>(image.bytes.size()), image.crc, values);
  require(check == expectedCheck(image, values), "package check verdict");
  return 0;
}
