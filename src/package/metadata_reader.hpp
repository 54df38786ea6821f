#pragma once
// metadata.json as the package check reads it: the text up to the first NUL, parsed with cJSON,
// and the nine values taken from its "QUARN", "encryption", "H7" and "G0" sections.
#include <cstdint>

#include "package/firmware_metadata.hpp"

namespace quarn {

// Parses the bytes read, up to the first NUL; bytes after the first complete JSON value are
// ignored. An empty tree means the text does not parse (an empty text included).
MetadataTree parseMetadataText(const uint8_t* bytes, uint32_t count);

// Takes the values of the sections present into values; an absent section, or a top level that
// is not an object, leaves its fields as they are (zero in a fresh session). False when a present
// section is not an object or lacks one of its members with the expected JSON type.
bool readMetadataValues(const cJSON& root, FirmwareMetadata& values);

// The "%x" conversion: leading white space, an optional sign and 0x/0X, then hexadecimal digits
// up to the first other character; a minus negates modulo 2^32, a value past 32 bits gives
// 0xFFFFFFFF. A text with no digit gives 0.
uint32_t scanHex(const char* text);

}  // namespace quarn
