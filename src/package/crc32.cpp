#include "package/crc32.hpp"

#include <type_traits>

namespace quarn {

std::array<uint32_t, 256> crc32Table{};
// A session may still be using it while the program ends.
static_assert(std::is_trivially_destructible_v<decltype(crc32Table)>);

namespace {

uint32_t reverseBits(uint32_t value, int width) {
  uint32_t reversed = 0;
  for (int bit = 0; bit < width; ++bit) {
    reversed = (reversed << 1) | (value & 1u);
    value >>= 1;
  }
  return reversed;
}

}  // namespace

void buildCrc32Table() {
  // The entry is built MSB-first on the bit-reversed index and reversed back, which yields the
  // reflected table without using the reversed polynomial.
  for (uint32_t i = 0; i < 256; ++i) {
    uint32_t value = reverseBits(i, 8) << 24;
    for (int step = 0; step < 8; ++step) {
      const bool carry = (value & 0x80000000u) != 0;
      value <<= 1;
      if (carry) value ^= 0x04C11DB7u;
    }
    crc32Table[i] = reverseBits(value, 32);
  }
}

uint32_t computeCrc32(const uint8_t* bytes, size_t count) {
  uint32_t crc = 0xFFFFFFFFu;
  for (size_t i = 0; i < count; ++i) crc = (crc >> 8) ^ crc32Table[(crc ^ bytes[i]) & 0xFFu];
  return crc ^ 0xFFFFFFFFu;
}

}  // namespace quarn
