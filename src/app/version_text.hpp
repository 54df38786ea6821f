#pragma once
// The version text of the start-up banner, taken from the head of ReadMe.txt. Kept free of any
// platform header so that it is tested natively.
#include <array>
#include <cstddef>
#include <cstdint>

#include "session/text.hpp"

namespace quarn {

inline constexpr size_t readmeHeadSize = 80;
using ReadmeHead = std::array<uint8_t, readmeHeadSize>;

// The version starts at the first digit 1 to 8 among the first 76 bytes and runs for at most
// three bytes, a zero byte ending it early. Bytes are widened as signed chars, so 0x80..0xFF
// become 0xFF80..0xFFFF. No such digit gives an empty text.
WideText versionTextFromReadme(const ReadmeHead& head);

}  // namespace quarn
