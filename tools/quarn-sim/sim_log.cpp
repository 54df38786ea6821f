#include "sim_log.hpp"

#include "tester_model.hpp"

namespace quarn::sim {

SimLog::~SimLog() {
  if (file_ != nullptr) std::fclose(file_);
}

bool SimLog::open(const std::string& path) {
  file_ = std::fopen(path.c_str(), "w");
  return file_ != nullptr;
}

void SimLog::line(const char* direction, const std::vector<uint8_t>& bytes,
                  const std::string& note) {
  if (file_ == nullptr) return;
  const auto elapsed = std::chrono::duration_cast<std::chrono::microseconds>(
      std::chrono::steady_clock::now() - start_);
  const double milliseconds = static_cast<double>(elapsed.count()) / 1000.0;
  std::fprintf(file_, "%10.3f %s [%zu] %s%s%s\n", milliseconds, direction, bytes.size(),
               toHex(bytes.data(), bytes.size()).c_str(), note.empty() ? "" : "  # ", note.c_str());
  // Flushed per line so the log is complete even when a test kills the simulator.
  std::fflush(file_);
}

}  // namespace quarn::sim
