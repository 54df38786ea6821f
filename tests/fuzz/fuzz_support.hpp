#pragma once
// What every harness shares: the bytes under test copied into an allocation of their own, exactly
// as long as the bytes received, so AddressSanitizer reports any read past them; and a property
// check that stops the run, so libFuzzer keeps the input that broke it.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <span>

namespace quarn::fuzz {

class ExactBytes {
 public:
  explicit ExactBytes(std::span<const uint8_t> bytes)
      : size_(bytes.size()), bytes_(new uint8_t[bytes.size()]) {
    std::copy(bytes.begin(), bytes.end(), bytes_.get());
  }

  uint8_t* data() { return bytes_.get(); }
  std::span<const uint8_t> span() const { return {bytes_.get(), size_}; }

 private:
  size_t size_;
  std::unique_ptr<uint8_t[]> bytes_;
};

inline void require(bool holds, const char* property) {
  if (holds) return;
  std::fprintf(stderr, "property broken: %s\n", property);
  std::abort();
}

}  // namespace quarn::fuzz
