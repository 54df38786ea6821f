#pragma once
// The optional message log: one line per message received or sent, with the time since start,
// so a failing end-to-end test shows the exchange as the tester saw it.
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

namespace quarn::sim {

class SimLog {
 public:
  SimLog() = default;
  ~SimLog();
  SimLog(const SimLog&) = delete;
  SimLog& operator=(const SimLog&) = delete;

  bool open(const std::string& path);
  // direction is "rx", "tx" or "--" (an event without bytes).
  void line(const char* direction, const std::vector<uint8_t>& bytes, const std::string& note);

 private:
  std::FILE* file_ = nullptr;
  std::chrono::steady_clock::time_point start_ = std::chrono::steady_clock::now();
};

}  // namespace quarn::sim
