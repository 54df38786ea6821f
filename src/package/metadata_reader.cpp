#include "package/metadata_reader.hpp"

#include <algorithm>
#include <string>

#include "cJSON.h"

namespace quarn {
namespace {

int hexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

}  // namespace

void MetadataTreeDeleter::operator()(cJSON* tree) const {
  cJSON_Delete(tree);
}

MetadataTree parseMetadataText(const uint8_t* bytes, uint32_t count) {
  // Only the bytes the read delivered are looked at; a NUL among them ends the text there.
  const uint8_t* const end = std::find(bytes, bytes + count, uint8_t{0});
  const std::string text(reinterpret_cast<const char*>(bytes), static_cast<size_t>(end - bytes));
  // The length counts the terminator, and trailing text after the value is allowed.
  return MetadataTree(cJSON_ParseWithLengthOpts(text.c_str(), text.size() + 1, nullptr, 0));
}

uint32_t scanHex(const char* text) {
  // The conversion that "%x" names, written out because the C library leaves a value past 32 bits
  // undefined (glibc keeps the low 32 bits of a 64-bit result, so "1cbf43926" read as cbf43926):
  // here such a value saturates at 0xFFFFFFFF, as strtoul with base 16 does where unsigned long
  // has 32 bits.
  const char* cursor = text;
  while (*cursor == ' ' || (*cursor >= '\t' && *cursor <= '\r')) ++cursor;
  const bool negative = *cursor == '-';
  if (*cursor == '+' || *cursor == '-') ++cursor;
  if (cursor[0] == '0' && (cursor[1] == 'x' || cursor[1] == 'X') && hexDigit(cursor[2]) >= 0) {
    cursor += 2;
  }
  uint64_t magnitude = 0;
  for (int digit = hexDigit(*cursor); digit >= 0; digit = hexDigit(*++cursor)) {
    magnitude = std::min<uint64_t>(magnitude * 16 + static_cast<uint64_t>(digit), 0x100000000u);
  }
  if (magnitude > 0xFFFFFFFFu) return 0xFFFFFFFFu;
  const auto value = static_cast<uint32_t>(magnitude);
  return negative ? 0u - value : value;
}

namespace {

bool readInteger(const cJSON& section, const char* name, int32_t& field) {
  const cJSON* const item = cJSON_GetObjectItem(&section, name);
  if (!cJSON_IsNumber(item)) return false;
  field = item->valueint;
  return true;
}

bool readHex(const cJSON& section, const char* name, uint32_t& field) {
  const cJSON* const item = cJSON_GetObjectItem(&section, name);
  if (!cJSON_IsString(item) || item->valuestring == nullptr) return false;
  field = scanHex(item->valuestring);
  return true;
}

bool readVersion(const cJSON& section, const char* name, float& field) {
  const cJSON* const item = cJSON_GetObjectItem(&section, name);
  if (!cJSON_IsNumber(item)) return false;
  // Rounded to the nearest single-precision value, so 2.00000001 and 2.0 compare equal.
  field = static_cast<float>(item->valuedouble);
  return true;
}

bool readQuarn(const cJSON& section, FirmwareMetadata& values) {
  return readInteger(section, "size", values.packageSize) &&
         readHex(section, "crc32", values.packageCrc);
}

bool readEncryption(const cJSON& section, FirmwareMetadata& values) {
  return readInteger(section, "status", values.encryptionStatus);
}

bool readH7(const cJSON& section, FirmwareMetadata& values) {
  return readInteger(section, "size", values.h7Size) && readHex(section, "crc32", values.h7Crc) &&
         readVersion(section, "version", values.h7Version);
}

bool readG0(const cJSON& section, FirmwareMetadata& values) {
  return readInteger(section, "size", values.g0Size) && readHex(section, "crc32", values.g0Crc) &&
         readVersion(section, "version", values.g0Version);
}

// A section that is there but is no object, or lacks a member, is refused rather than read as
// zeros: a half-written package must not reach the tester with guessed values.
bool readSection(const cJSON* section, bool (*read)(const cJSON&, FirmwareMetadata&),
                 FirmwareMetadata& values) {
  if (section == nullptr) return true;
  return cJSON_IsObject(section) && read(*section, values);
}

}  // namespace

bool readMetadataValues(const cJSON& root, FirmwareMetadata& values) {
  if (!cJSON_IsObject(&root)) return true;  // nothing to look up: every section is absent
  // Names match in any letter case (cJSON_GetObjectItem is the case-insensitive lookup).
  const cJSON* const quarn = cJSON_GetObjectItem(&root, "QUARN");
  const cJSON* const encryption = cJSON_GetObjectItem(&root, "encryption");
  const cJSON* const h7 = cJSON_GetObjectItem(&root, "H7");
  const cJSON* const g0 = cJSON_GetObjectItem(&root, "G0");
  return readSection(quarn, readQuarn, values) && readSection(encryption, readEncryption, values) &&
         readSection(h7, readH7, values) && readSection(g0, readG0, values);
}

}  // namespace quarn
