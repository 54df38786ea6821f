#pragma once
// The command line's console, captured: a stream that keeps what is written, a face that keeps
// the events, and a lock.
#include <mutex>
#include <string>
#include <vector>

#include "cli/cli_events.hpp"
#include "cli/console_seams.hpp"

namespace quarn::fakes {

class CapturedStream : public cli::OutputStream {
 public:
  explicit CapturedStream(bool terminal = false) : terminal_(terminal) {}
  void write(std::string_view utf8) override { text += utf8; }
  bool isTerminal() const override { return terminal_; }

  std::string text;

 private:
  bool terminal_;
};

class RecordingFace : public cli::CliFace {
 public:
  void render(const cli::CliEvent& event) override { events.push_back(event); }

  template <typename Event>
  std::vector<Event> all() const {
    std::vector<Event> found;
    for (const cli::CliEvent& event : events) {
      if (const Event* e = std::get_if<Event>(&event)) found.push_back(*e);
    }
    return found;
  }

  std::vector<cli::CliEvent> events;
};

class TestMutex : public cli::CliMutex {
 public:
  void lock() override { mutex_.lock(); }
  void unlock() override { mutex_.unlock(); }

 private:
  std::mutex mutex_;
};

}  // namespace quarn::fakes
