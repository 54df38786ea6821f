#pragma once
// The event loop of the tester simulator: it moves bytes between the pty and the tester model,
// holding them back for line pacing, reply delays and the completion delay, and plays the
// tester's disappearance on restart and on an unplug.
#include <signal.h>

#include <chrono>
#include <cstdint>
#include <deque>
#include <optional>
#include <string>

#include "pseudo_terminal.hpp"
#include "sim_log.hpp"
#include "sim_options.hpp"
#include "tester_model.hpp"
#include "trace_replay.hpp"

namespace quarn::sim {

enum ExitCode : int { exitOk = 0, exitImageBad = 1, exitUsage = 2, exitSetup = 3 };

// Told when the tester's pty comes up and just before it goes (restart, unplug, exit), so the
// host's view of the device (the USB view's sysfs tree and nodes) can follow it. Called on the
// thread that runs the simulator.
class PortObserver {
 public:
  virtual ~PortObserver() = default;
  virtual void portOpened(const std::string& slavePath) = 0;
  virtual void portClosing(const std::string& slavePath) = 0;
};

class Simulator {
 public:
  Simulator(const SimOptions& options, SimLog& log);
  ~Simulator();
  Simulator(const Simulator&) = delete;
  Simulator& operator=(const Simulator&) = delete;

  // Runs until stopRequested is set (by a signal delivered while waiting under waitMask), or
  // the tester exits by itself; gives the exit code.
  int run(const sigset_t& waitMask, const volatile sig_atomic_t& stopRequested);

  void printSummary() const;

  // Set before run; the observer must outlive the simulator.
  void setPortObserver(PortObserver* observer) { observer_ = observer; }

 private:
  using Clock = std::chrono::steady_clock;
  using TimePoint = Clock::time_point;

  struct Timed {
    TimePoint at;
    Bytes bytes;
    std::string note;
  };

  bool openPort();
  void closePort();
  bool readPort(TimePoint now);
  void deliverInbound(TimePoint now);
  void frameMessages(TimePoint now);
  void handleMessage(const Bytes& message, TimePoint now);
  void handleReplayed(const Bytes& message, TimePoint now);
  TimePoint enqueueReply(Bytes bytes, TimePoint due, const char* what);
  void flushOutbound(TimePoint now);
  void writeImage();
  void checkExit(TimePoint now);
  std::optional<TimePoint> nextDeadline() const;
  Clock::duration lineTime(size_t byteCount) const;

  const SimOptions& options_;
  SimLog& log_;
  TesterModel model_;
  PseudoTerminal port_;
  std::string publishedTarget_;
  PortObserver* observer_ = nullptr;
  bool readyAnnounced_ = false;

  std::deque<Timed> inbound_;   // read from the pty, not yet arrived on the paced line
  std::deque<Timed> outbound_;  // replies waiting for their time
  Bytes received_;              // arrived bytes not yet cut into messages
  TimePoint lastArrival_{};
  TimePoint rxLineFree_{};
  TimePoint txLineFree_{};
  uint64_t replyCount_ = 0;
  std::optional<TimePoint> reopenAt_;
  std::optional<ReplayScript> replayScript_;
  std::optional<ReplayTester> replay_;
  std::optional<TimePoint> goneAt_;  // a replayed tester vanishes then

  bool exitWhenSent_ = false;
  TimePoint lingerFrom_{};
  std::optional<TimePoint> lingerUntil_;
  bool finished_ = false;
  int exitCode_ = exitOk;
};

}  // namespace quarn::sim
