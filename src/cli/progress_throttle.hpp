#pragma once
// Progress is drawn or sent at most ten times a second: a redraw per 60-byte block would cost
// more than the block on a fast link, and a script reading JSON wants a pace it can keep up with.
// The first report and the last (all bytes acknowledged) always pass.
#include <cstdint>
#include <optional>

namespace quarn::cli {

inline constexpr uint64_t progressIntervalMs = 100;

class ProgressThrottle {
 public:
  bool admit(uint64_t nowMs, uint32_t bytes, uint32_t total);

 private:
  std::optional<uint64_t> lastAdmittedMs_;
};

}  // namespace quarn::cli
