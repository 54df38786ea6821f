#pragma once
// The reflected CRC-32 (polynomial 0x04C11DB7, initial value and final inversion 0xFFFFFFFF),
// table-driven over a program-wide table that every session rebuilds.
#include <array>
#include <cstddef>
#include <cstdint>

namespace quarn {

extern std::array<uint32_t, 256> crc32Table;

void buildCrc32Table();
uint32_t computeCrc32(const uint8_t* bytes, size_t count);

}  // namespace quarn
