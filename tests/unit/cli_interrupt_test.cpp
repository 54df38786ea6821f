// Ctrl-C from another thread: the port gate closes the session's port whether it is idle or in
// a blocking call, and the reporter lets nothing through after the interruption's own lines.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <thread>

#include "cli/cli_reporter.hpp"
#include "cli/exit_codes.hpp"
#include "cli/port_gate.hpp"
#include "fakes/console_capture.hpp"
#include "fakes/fake_clock.hpp"

namespace quarn::cli {
namespace {

class SteadyClock : public Clock {
 public:
  uint64_t nowMilliseconds() override {
    return static_cast<uint64_t>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                     std::chrono::steady_clock::now().time_since_epoch())
                                     .count());
  }
  void sleepMilliseconds(uint32_t ms) override {
    std::this_thread::sleep_for(std::chrono::milliseconds(ms));
  }
};

// A port whose input wait blocks until it is woken, as a read on a silent tester does.
struct BlockingTester {
  std::mutex mutex;
  std::condition_variable changed;
  bool waiting = false;
  bool woken = false;
  bool honoursWake = true;
  bool closed = false;
  std::thread::id closedOn;
  int opens = 0;

  void wake() {
    const std::lock_guard lock(mutex);
    if (honoursWake) woken = true;
    changed.notify_all();
  }
  void release() {
    const std::lock_guard lock(mutex);
    woken = true;
    changed.notify_all();
  }
};

class BlockingPort : public SerialPort {
 public:
  explicit BlockingPort(BlockingTester& tester) : tester_(tester) {}
  ~BlockingPort() override {
    const std::lock_guard lock(tester_.mutex);
    tester_.closed = true;
    tester_.closedOn = std::this_thread::get_id();
  }
  bool readPortState() override { return true; }
  bool applyLineSettings(const LineSettings&) override { return true; }
  bool applyNonBlockingTimeouts() override { return true; }
  void write(std::span<const uint8_t>) override {}
  std::optional<uint32_t> queuedInputBytes() override { return 0; }
  uint32_t read(std::span<uint8_t>) override { return 0; }
  void discardInput() override {}
  void waitForInput(uint32_t, uint32_t, uint32_t) override {
    std::unique_lock lock(tester_.mutex);
    tester_.waiting = true;
    tester_.changed.notify_all();
    tester_.changed.wait(lock, [this] { return tester_.woken; });
    tester_.waiting = false;
  }

 private:
  BlockingTester& tester_;
};

class BlockingOpener : public PortOpener {
 public:
  explicit BlockingOpener(BlockingTester& tester) : tester_(tester) {}
  std::unique_ptr<SerialPort> openPort(WideView) override {
    ++tester_.opens;
    return std::make_unique<BlockingPort>(tester_);
  }

 private:
  BlockingTester& tester_;
};

struct Gate {
  BlockingTester tester;
  BlockingOpener opener{tester};
  fakes::TestMutex mutex;
  SteadyClock clock;
  PortGate gate{opener, mutex, clock};
};

TEST(PortGate, ClosesAnIdlePortAndRefusesLaterOpenings) {
  Gate g;
  std::unique_ptr<SerialPort> port = g.gate.openPort(u"/dev/ttyACM0");
  ASSERT_TRUE(port);
  int wakes = 0;
  EXPECT_TRUE(g.gate.closeForInterrupt([&] { ++wakes; }, 5000));
  EXPECT_TRUE(g.tester.closed);
  EXPECT_EQ(wakes, 0);
  // What the session still does with its port fails harmlessly; no new port is opened.
  EXPECT_EQ(port->queuedInputBytes(), std::nullopt);
  EXPECT_FALSE(port->readPortState());
  EXPECT_EQ(g.gate.openPort(u"/dev/ttyACM0"), nullptr);
  EXPECT_EQ(g.tester.opens, 1);
  port.reset();
}

// The session thread sits in a blocking wait: it is woken, and it closes the port itself before
// the interrupting thread goes on.
TEST(PortGate, WakesABlockedCallAndTheSessionThreadClosesThePort) {
  Gate g;
  std::thread::id sessionThread;
  std::atomic<bool> sessionDone = false;
  std::thread session([&] {
    sessionThread = std::this_thread::get_id();
    std::unique_ptr<SerialPort> port = g.gate.openPort(u"COM7");
    port->waitForInput(0, 2, 60000);
    EXPECT_EQ(port->queuedInputBytes(), std::nullopt);  // closed by now
    sessionDone = true;
  });
  {
    std::unique_lock lock(g.tester.mutex);
    g.tester.changed.wait(lock, [&] { return g.tester.waiting; });
  }
  EXPECT_TRUE(g.gate.closeForInterrupt([&] { g.tester.wake(); }, 5000));
  {
    const std::lock_guard lock(g.tester.mutex);
    EXPECT_TRUE(g.tester.closed);  // before closeForInterrupt returned
  }
  session.join();
  EXPECT_TRUE(sessionDone);
  EXPECT_EQ(g.tester.closedOn, sessionThread);
}

TEST(PortGate, GivesUpOnACallThatIgnoresTheWake) {
  Gate g;
  g.tester.honoursWake = false;
  std::thread session([&] {
    std::unique_ptr<SerialPort> port = g.gate.openPort(u"COM7");
    port->waitForInput(0, 2, 60000);
  });
  {
    std::unique_lock lock(g.tester.mutex);
    g.tester.changed.wait(lock, [&] { return g.tester.waiting; });
  }
  EXPECT_FALSE(g.gate.closeForInterrupt([&] { g.tester.wake(); }, 50));
  g.tester.release();
  session.join();
  EXPECT_TRUE(g.tester.closed);  // by the session thread, once its call came back
}

struct Reporting {
  fakes::RecordingFace face;
  fakes::TestMutex mutex;
  fakes::EventLog log;
  fakes::FakeClock clock{log};
  CliReporter reporter{face, mutex, clock, false};
};

TEST(CliReporter, AnInterruptionEndsTheOutputWithItsOwnResult) {
  Reporting r;
  r.reporter.appendStatusLine(ReportCode::burningInProgress, u"Burning in Progress.\n");
  bool portClosed = false;
  std::string described;
  EXPECT_TRUE(r.reporter.interrupt([&] { portClosed = r.face.events.size() == 1; },
                                   [&](bool started) {
                                     described = started ? "after restart" : "before restart";
                                     return described;
                                   }));
  EXPECT_TRUE(portClosed);  // before the interruption's lines
  EXPECT_EQ(described, "after restart");
  // The session may still report what the closed port did to it, and finish: none of it shows.
  r.reporter.showErrorBox(ReportCode::blockNoReply, u"2 Failed to program firmware.");
  EXPECT_FALSE(r.reporter.finish(ResultEvent{"blockNoReply", exitBlockNoReply, {}}));
  ASSERT_EQ(r.face.events.size(), 3u);
  EXPECT_EQ(std::get<ErrorEvent>(r.face.events[1]).code, interruptedCode);
  EXPECT_EQ(std::get<ResultEvent>(r.face.events[2]).exit, exitInterrupted);
}

TEST(CliReporter, AnInterruptionAfterTheResultChangesNothing) {
  Reporting r;
  EXPECT_TRUE(r.reporter.finish(ResultEvent{"programmingComplete", 0, {}}));
  bool portClosed = false;
  EXPECT_FALSE(r.reporter.interrupt([&] { portClosed = true; }, [](bool) { return ""; }));
  EXPECT_FALSE(portClosed);
  EXPECT_EQ(r.face.events.size(), 1u);
}

}  // namespace
}  // namespace quarn::cli
