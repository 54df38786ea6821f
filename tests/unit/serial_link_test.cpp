#include "link/serial_link.hpp"

#include <gtest/gtest.h>

#include "fakes/recording_outlets.hpp"
#include "fakes/scripted_port.hpp"

namespace quarn {
namespace {

struct LinkWorld {
  fakes::EventLog log;
  fakes::RecordingOutlets outlets{log};
  fakes::FakeClock clock{log};
  fakes::ScriptedTester tester;
  UpdateSession session;

  LinkWorld() { session.port = std::make_unique<fakes::ScriptedPort>(tester, clock, log); }
  void queue(std::initializer_list<uint8_t> bytes) {
    tester.inputQueue.insert(tester.inputQueue.end(), bytes);
  }
};

TEST(AwaitReply, KeepsWaitingWhileFewerThanTheMinimumAreQueued) {
  LinkWorld w;
  w.queue({0xFD, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12});  // 13 of 14
  const uint64_t start = w.clock.now;
  EXPECT_EQ(awaitReply(w.session, w.clock, 14), 0u);
  EXPECT_TRUE(w.tester.readSizes.empty());
  EXPECT_EQ(w.tester.inputQueue.size(), 13u);  // nothing discarded
  EXPECT_GE(w.clock.now - start, replyWaitBoundMs);
}

TEST(AwaitReply, ReadsEverythingQueuedInOneRead) {
  LinkWorld w;
  for (int i = 0; i < 20; ++i) w.queue({static_cast<uint8_t>(i)});
  EXPECT_EQ(awaitReply(w.session, w.clock, 14), 20u);
  EXPECT_EQ(w.tester.readSizes, std::vector<uint32_t>{20});
  EXPECT_EQ(w.session.receiveBuffer[19], 19);
  EXPECT_TRUE(w.tester.inputQueue.empty());  // the extra bytes are not kept for the next wait
}

TEST(AwaitReply, NeverReadsMoreThanTheReceiveBuffer) {
  LinkWorld w;
  for (int i = 0; i < 300; ++i) w.queue({0x55});
  EXPECT_EQ(awaitReply(w.session, w.clock, 3), 256u);
  EXPECT_EQ(w.tester.inputQueue.size(), 44u);  // left queued for the next wait
}

TEST(AwaitReply, FailedStatusRequestGivesZeroEvenAfterAnEarlierReply) {
  LinkWorld w;
  w.queue({0xFE, 0xFF});
  ASSERT_EQ(awaitReply(w.session, w.clock, 2), 2u);
  w.tester.failQueueStatus = true;
  w.queue({0xFE, 0xFF});
  EXPECT_EQ(awaitReply(w.session, w.clock, 2), 0u);
  EXPECT_EQ(w.session.receivedCount, 0u);
}

TEST(AwaitReply, StaleBytesAreReadAsTheReply) {
  LinkWorld w;
  w.queue({0x00, 0xFF});
  const uint8_t start[] = {0xFF, 0xFF, 0xFF};
  sendMessage(w.session, start);
  EXPECT_EQ(awaitReply(w.session, w.clock, 2), 2u);
  EXPECT_EQ(w.session.receiveBuffer[0], 0x00);
}

TEST(SendMessage, WritesExactlyTheMessageAndForgetsTheLastCount) {
  LinkWorld w;
  w.session.receivedCount = 7;
  const uint8_t message[] = {0xFD, 0x01, 0xFF};
  sendMessage(w.session, message);
  ASSERT_EQ(w.tester.writes.size(), 1u);
  EXPECT_EQ(w.tester.writes[0], std::vector<uint8_t>(std::begin(message), std::end(message)));
  EXPECT_EQ(w.session.receivedCount, 0u);
}

struct ConfigureCase {
  bool failRead, failApply, failTimeouts;
  std::vector<std::string> lines;
  bool settingsApplied;
};

TEST(ConfigurePort, WritesAtMostOneLineAndStopsAtTheFirstFailure) {
  const ConfigureCase cases[] = {
      {false, false, false, {}, true},
      {true, false, false, {"Error getting COM port state\n"}, false},
      {false, true, false, {"Error setting COM port state\n"}, false},
      {false, false, true, {"Error setting COM port timeouts\n"}, true},
  };
  for (const ConfigureCase& c : cases) {
    LinkWorld w;
    w.tester.failStateRead = c.failRead;
    w.tester.failStateApply = c.failApply;
    w.tester.failTimeouts = c.failTimeouts;
    configurePort(*w.session.port, w.outlets);
    EXPECT_EQ(w.outlets.lines, c.lines);
    EXPECT_EQ(w.tester.appliedSettings.has_value(), c.settingsApplied);
    if (w.tester.appliedSettings) {
      EXPECT_EQ(w.tester.appliedSettings->baudRate, 256000u);
      EXPECT_EQ(w.tester.appliedSettings->dataBits, 8);
      EXPECT_FALSE(w.tester.appliedSettings->parity);
      EXPECT_EQ(w.tester.appliedSettings->stopBits, 1);
    }
  }
}

TEST(OpenTesterPort, FailureNamesTheWholeDevicePath) {
  LinkWorld w;
  fakes::ScriptedPortOpener opener(w.tester, w.clock, w.log);
  fakes::FakeClock& clock = w.clock;
  struct NoDevices : DeviceCatalog {
    std::unique_ptr<DeviceList> listPresentPorts() override { return nullptr; }
    WideText devicePathPrefix() const override { return {}; }
  } devices;
  struct NoFiles : PackageFileSystem {
    WideText programFilePath() override { return {}; }
    char16_t pathSeparator() const override { return u'/'; }
    std::unique_ptr<PackageFile> openForReading(WideView) override { return nullptr; }
  } files;
  SessionPlatform platform{w.outlets, devices, opener, files, clock};
  UpdateSession session;
  session.devicePath = u"\\\\.\\COM7";
  w.tester.openResults = {false};
  EXPECT_FALSE(openTesterPort(session, platform));
  EXPECT_EQ(w.outlets.lines, std::vector<std::string>{"Failed to open \\\\.\\COM7\n"});
  EXPECT_EQ(session.port, nullptr);
}

}  // namespace
}  // namespace quarn
