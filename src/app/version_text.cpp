#include "app/version_text.hpp"

namespace quarn {
namespace {

// A digit at 76..79 never starts the version: its three bytes would not all lie in the head.
constexpr size_t lastStart = readmeHeadSize - 5;
constexpr size_t versionLength = 3;

bool startsVersion(uint8_t byte) {
  return byte >= '1' && byte <= '8';
}

char16_t widenSigned(uint8_t byte) {
  return static_cast<char16_t>(static_cast<int16_t>(static_cast<int8_t>(byte)));
}

}  // namespace

WideText versionTextFromReadme(const ReadmeHead& head) {
  WideText version;
  for (size_t start = 0; start <= lastStart; ++start) {
    if (!startsVersion(head[start])) continue;
    for (size_t i = start; i < start + versionLength && head[i] != 0; ++i) {
      version += widenSigned(head[i]);
    }
    break;
  }
  return version;
}

}  // namespace quarn
