#include "cli/progress_throttle.hpp"

namespace quarn::cli {

bool ProgressThrottle::admit(uint64_t nowMs, uint32_t bytes, uint32_t total) {
  const bool last = bytes >= total;
  if (!last && lastAdmittedMs_ && nowMs - *lastAdmittedMs_ < progressIntervalMs) return false;
  lastAdmittedMs_ = nowMs;
  return true;
}

}  // namespace quarn::cli
