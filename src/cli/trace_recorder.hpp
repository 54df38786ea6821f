#pragma once
// The session as the port saw it, one JSON object a line, for a user to send us when an update
// fails and for the simulator to play back as the tester. Every line is written out as its event
// happens (no buffering in the program), so a session that is killed leaves a readable file.
// Data blocks are written as their number, length and CRC-32 unless the whole bytes are asked
// for: a trace carries no firmware and stays small, but it does carry the tester's device ID,
// its serial number and the paths of the ports.
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "session/clock.hpp"

namespace quarn::cli {

// Where the lines go: each call writes one whole line at once.
class TraceSink {
 public:
  virtual ~TraceSink() = default;
  virtual void writeLine(std::string_view line) = 0;
};

struct TraceHeader {
  std::string program;  // the program's version, "3.8.0"
  std::string os;       // "linux", "windows"
  std::string started;  // UTC, ISO 8601
};

class TraceRecorder {
 public:
  TraceRecorder(TraceSink& sink, Clock& clock, bool fullBlocks, const TraceHeader& header);

  void opened(std::string_view path);
  void openFailed(std::string_view path, std::string_view error);
  void configured(bool ok);
  void sent(std::span<const uint8_t> bytes);
  void received(std::span<const uint8_t> bytes);
  void paused(uint32_t milliseconds);
  void gone();
  void closed();
  void tester(std::string_view deviceIdHex, const std::optional<std::string>& port,
              const std::optional<std::string>& serial, const std::optional<std::string>& location);
  void result(std::string_view code, int exit);

 private:
  struct Line;
  Line begin(const char* event);
  void finish(Line& line);

  TraceSink& sink_;
  Clock& clock_;
  const bool fullBlocks_;
  const uint64_t startUs_;
  // Once the start request has gone out, every longer message is a data block.
  bool transferOpen_ = false;
};

}  // namespace quarn::cli
