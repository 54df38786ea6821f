#pragma once
// The simulator's gadget mode: the tester model on the device side of a Linux USB gadget. The
// bytes travel over a real USB link (dummy_hcd in tests/vm), so there is no line pacing; the
// tester's restart into its bootloader is the gadget leaving the bus (its configfs UDC cleared)
// and coming back after the delay, possibly with the bootloader's own product string, serial
// number and product ID, exactly what a host sees of a tester that restarts.
#include <signal.h>

#include <chrono>
#include <cstdint>
#include <deque>
#include <optional>
#include <string>

#include "gadget_options.hpp"
#include "sim_log.hpp"
#include "sim_options.hpp"
#include "tester_model.hpp"

namespace quarn::sim {

class GadgetSimulator {
 public:
  GadgetSimulator(const SimOptions& options, const GadgetOptions& gadget, SimLog& log);
  ~GadgetSimulator();
  GadgetSimulator(const GadgetSimulator&) = delete;
  GadgetSimulator& operator=(const GadgetSimulator&) = delete;

  // Runs until stopRequested is set or the tester exits by itself (an unplug, or the completion
  // with --exit-after-completion); gives the exit code.
  int run(const sigset_t& waitMask, const volatile sig_atomic_t& stopRequested);

  void printSummary() const;

 private:
  using Clock = std::chrono::steady_clock;
  using TimePoint = Clock::time_point;

  struct Timed {
    TimePoint at;
    Bytes bytes;
    std::string note;
  };

  // What to do once the replies are out and the host has had them.
  enum class AfterSent { nothing, exit, unplug };

  bool openTty();
  void closeTty();
  bool bind();
  bool unbind();
  bool writeAttribute(const std::string& name, const std::string& value);
  std::string readAttribute(const std::string& name) const;
  bool applyBootloaderIdentity();

  bool readTty(TimePoint now);
  void frameMessages(TimePoint now);
  void handleMessage(const Bytes& message, TimePoint now);
  TimePoint enqueueReply(Bytes bytes, TimePoint due, const char* what);
  void flushOutbound(TimePoint now);
  void writeImage();
  void checkAfterSent(TimePoint now);
  std::optional<TimePoint> nextDeadline(TimePoint now) const;

  const SimOptions& options_;
  const GadgetOptions& gadget_;
  SimLog& log_;
  TesterModel model_;
  int fd_ = -1;
  std::string udc_;
  bool bound_ = false;

  std::deque<Timed> outbound_;
  Bytes received_;
  TimePoint lastArrival_{};
  uint64_t replyCount_ = 0;
  std::optional<TimePoint> bindAt_;
  std::optional<TimePoint> reopenAt_;  // after an unexpected hang-up of the gadget's tty

  AfterSent afterSent_ = AfterSent::nothing;
  TimePoint lingerFrom_{};
  std::optional<TimePoint> lingerUntil_;
  bool finished_ = false;
  int exitCode_ = 0;
};

}  // namespace quarn::sim
