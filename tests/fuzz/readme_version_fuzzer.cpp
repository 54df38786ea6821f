// The banner's version scan over the head of ReadMe.txt: up to 80 bytes read into a zero-filled
// 80-byte head, as the banner reads the file (a longer file gives only its first 80 bytes).
#include <algorithm>
#include <cstdint>

#include "app/version_text.hpp"
#include "fuzz_support.hpp"

namespace {

using namespace quarn;
using fuzz::require;

constexpr size_t lastVersionStart = 75;

bool startsVersion(uint8_t byte) {
  return byte >= '1' && byte <= '8';
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  ReadmeHead head{};
  std::copy_n(data, std::min(size, head.size()), head.begin());
  const WideText version = versionTextFromReadme(head);

  const auto scanned = head.begin() + lastVersionStart + 1;
  const auto start = std::find_if(head.begin(), scanned, startsVersion);
  if (start == scanned) {
    require(version.empty(), "a version without a digit 1 to 8 in the first 76 bytes");
    return 0;
  }
  // The digit and at most the next two bytes, each widened as a signed byte, up to a zero byte.
  require(!version.empty() && version.size() <= 3, "version length");
  for (size_t i = 0; i < version.size(); ++i) {
    const auto byte = static_cast<int8_t>(start[static_cast<ptrdiff_t>(i)]);
    require(byte != 0 && version[i] == static_cast<char16_t>(byte), "version character");
  }
  require(version.size() == 3 || start[static_cast<ptrdiff_t>(version.size())] == 0,
          "version ended before a zero byte");
  return 0;
}
