#include <gtest/gtest.h>

#include <string_view>

#include "package/crc32.hpp"

namespace quarn {
namespace {

TEST(Crc32Table, HoldsTheReflectedEntries) {
  crc32Table.fill(0xA5A5A5A5u);  // a rebuild must not depend on what an earlier session left
  buildCrc32Table();
  const struct {
    size_t index;
    uint32_t entry;
  } cases[] = {{0, 0x00000000u}, {1, 0x77073096u}, {128, 0xEDB88320u}, {255, 0x2D02EF8Du}};
  for (const auto& c : cases) EXPECT_EQ(crc32Table[c.index], c.entry) << "entry " << c.index;
}

TEST(Crc32, MatchesTheZlibChecksum) {
  buildCrc32Table();
  const struct {
    std::string_view text;
    uint32_t crc;
  } cases[] = {
      {"123456789", 0xCBF43926u},
      {"", 0x00000000u},
      {"a", 0xE8B7BE43u},
      {"The quick brown fox jumps over the lazy dog", 0x414FA339u},
      {std::string_view("\0\0\0\0", 4), 0x2144DF1Cu},
  };
  for (const auto& c : cases) {
    const auto* bytes = reinterpret_cast<const uint8_t*>(c.text.data());
    EXPECT_EQ(computeCrc32(bytes, c.text.size()), c.crc) << '"' << c.text << '"';
  }
}

}  // namespace
}  // namespace quarn
