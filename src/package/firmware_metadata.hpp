#pragma once
// The values read from metadata.json. All start at zero in every session, so an absent section
// leaves zeros (version 0.0).
#include <cstdint>
#include <memory>

struct cJSON;

namespace quarn {

struct FirmwareMetadata {
  int32_t packageSize = 0;
  uint32_t packageCrc = 0;
  int32_t encryptionStatus = 0;
  int32_t h7Size = 0;
  uint32_t h7Crc = 0;
  float h7Version = 0.0f;
  int32_t g0Size = 0;
  uint32_t g0Crc = 0;
  float g0Version = 0.0f;

  bool operator==(const FirmwareMetadata&) const = default;
};

struct MetadataTreeDeleter {
  void operator()(cJSON* tree) const;
};
using MetadataTree = std::unique_ptr<cJSON, MetadataTreeDeleter>;

}  // namespace quarn
