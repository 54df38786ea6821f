#include <gtest/gtest.h>

#include <limits>

#include "package/firmware_package.hpp"

namespace quarn {
namespace {

const char* name(PackageCheck check) {
  switch (check) {
    case PackageCheck::packageOk:
      return "packageOk";
    case PackageCheck::sizeMismatch:
      return "sizeMismatch";
    case PackageCheck::crc32Mismatch:
      return "crc32Mismatch";
    case PackageCheck::versionMismatch:
      return "versionMismatch";
  }
  return "?";
}

FirmwareMetadata metadata(int32_t size, uint32_t crc, float h7Version, float g0Version) {
  FirmwareMetadata m;
  m.packageSize = size;
  m.packageCrc = crc;
  m.h7Version = h7Version;
  m.g0Version = g0Version;
  return m;
}

TEST(CheckPackage, TestsSizeThenCrcThenVersion) {
  const float nan = std::numeric_limits<float>::quiet_NaN();
  const struct {
    const char* label;
    uint32_t imageLength;
    uint32_t imageCrc;
    FirmwareMetadata metadata;
    PackageCheck expected;
  } cases[] = {
      {"all agree", 9, 0xCBF43926u, metadata(9, 0xCBF43926u, 1.5f, 1.5f), PackageCheck::packageOk},
      {"size differs", 9, 0xCBF43926u, metadata(8, 0xCBF43926u, 1.5f, 1.5f),
       PackageCheck::sizeMismatch},
      {"size checked before crc", 9, 1, metadata(8, 2, 1.0f, 2.0f), PackageCheck::sizeMismatch},
      {"crc checked before version", 9, 1, metadata(9, 2, 1.0f, 2.0f), PackageCheck::crc32Mismatch},
      {"versions differ", 9, 1, metadata(9, 1, 1.0f, 2.0f), PackageCheck::versionMismatch},
      {"G0 absent, H7 version set", 9, 1, metadata(9, 1, 1.0f, 0.0f),
       PackageCheck::versionMismatch},
      {"G0 absent, H7 version 0.0", 9, 1, metadata(9, 1, 0.0f, 0.0f), PackageCheck::packageOk},
      {"negative zero equals zero", 9, 1, metadata(9, 1, -0.0f, 0.0f), PackageCheck::packageOk},
      {"NaN on one side", 9, 1, metadata(9, 1, nan, 0.0f), PackageCheck::versionMismatch},
      {"NaN on both sides", 9, 1, metadata(9, 1, nan, nan), PackageCheck::versionMismatch},
      {"empty image, size 0, crc 0", 0, 0, metadata(0, 0, 0.0f, 0.0f), PackageCheck::packageOk},
      // 65,536 blocks of 60 bytes is all the 16-bit acknowledgement can cover.
      {"largest image that can be acknowledged", 3932160, 7, metadata(3932160, 7, 0.0f, 0.0f),
       PackageCheck::packageOk},
      {"one byte more, metadata agreeing", 3932161, 7, metadata(3932161, 7, 0.0f, 0.0f),
       PackageCheck::sizeMismatch},
      {"negative size matching the 32-bit pattern", 0xFFFFFFFFu, 7, metadata(-1, 7, 0.0f, 0.0f),
       PackageCheck::sizeMismatch},
  };
  for (const auto& c : cases) {
    EXPECT_STREQ(name(checkPackage(c.imageLength, c.imageCrc, c.metadata)), name(c.expected))
        << c.label;
  }
}

}  // namespace
}  // namespace quarn
