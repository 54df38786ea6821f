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
  EXPECT_EQ(awaitReply(w.session, w.clock, 14, deviceIdReplyBoundMs), 0u);
  EXPECT_TRUE(w.tester.readSizes.empty());
  EXPECT_EQ(w.tester.inputQueue.size(), 13u);  // nothing discarded
  EXPECT_GE(w.clock.now - start, deviceIdReplyBoundMs);
}

TEST(AwaitReply, ReadsEverythingQueuedInOneRead) {
  LinkWorld w;
  for (int i = 0; i < 20; ++i) w.queue({static_cast<uint8_t>(i)});
  EXPECT_EQ(awaitReply(w.session, w.clock, 14, deviceIdReplyBoundMs), 20u);
  EXPECT_EQ(w.tester.readSizes, std::vector<uint32_t>{20});
  EXPECT_EQ(w.session.receiveBuffer[19], 19);
  EXPECT_TRUE(w.tester.inputQueue.empty());  // the extra bytes are not kept for the next wait
}

TEST(AwaitReply, NeverReadsMoreThanTheReceiveBuffer) {
  LinkWorld w;
  for (int i = 0; i < 300; ++i) w.queue({0x55});
  EXPECT_EQ(awaitReply(w.session, w.clock, 3, blockAckBoundMs), 256u);
  EXPECT_EQ(w.tester.inputQueue.size(), 44u);  // left queued for the next wait
}

TEST(AwaitReply, FailedStatusRequestGivesZeroEvenAfterAnEarlierReply) {
  LinkWorld w;
  w.queue({0xFE, 0xFF});
  ASSERT_EQ(awaitReply(w.session, w.clock, 2, signatureReplyBoundMs), 2u);
  w.tester.failQueueStatus = true;
  w.queue({0xFE, 0xFF});
  EXPECT_EQ(awaitReply(w.session, w.clock, 2, signatureReplyBoundMs), 0u);
  EXPECT_EQ(w.session.receivedCount, 0u);
}

// Issue 16, item 3: what is queued before a sending is an answer to something sent earlier.
TEST(SendMessage, DiscardsStaleBytesSoTheyAreNotReadAsTheReply) {
  LinkWorld w;
  w.queue({0x00, 0xFF});  // a late app-signature verdict
  w.tester.replies.push_back(fakes::Reply{{0x00, 0x00, 0x00}, {}, {}, 0});
  const uint8_t start[] = {0xFF, 0xFF, 0xFF};
  sendMessage(w.session, start);
  EXPECT_EQ(w.tester.discarded, std::vector<uint32_t>{2});
  EXPECT_EQ(awaitReply(w.session, w.clock, 3, startReplyBoundMs), 3u);
  EXPECT_EQ(w.session.receiveBuffer[1], 0x00);
  EXPECT_EQ(w.session.receiveBuffer[2], 0x00);
}

TEST(SendMessage, DiscardsNothingWhenNothingIsQueued) {
  LinkWorld w;
  const uint8_t start[] = {0xFF, 0xFF, 0xFF};
  sendMessage(w.session, start);
  EXPECT_TRUE(w.tester.discarded.empty());
  EXPECT_EQ(w.log.events, std::vector<std::string>{"write:FF FF FF"});
}

TEST(AwaitReply, LeadingBytesCountTowardsTheMinimumAndStayInFront) {
  LinkWorld w;
  w.session.receiveBuffer[0] = 0xFC;
  w.queue({0xFF, 0x01});
  const ReplyWait wait{2, w.clock.now + 1000, std::nullopt, 1};
  EXPECT_EQ(awaitReply(w.session, w.clock, nullptr, wait), 3u);
  EXPECT_EQ(w.session.receiveBuffer[0], 0xFC);
  EXPECT_EQ(w.session.receiveBuffer[1], 0xFF);
  EXPECT_EQ(w.tester.readSizes, std::vector<uint32_t>{2});
  // Enough leading bytes: no read at all.
  const ReplyWait enough{2, w.clock.now + 1000, std::nullopt, 2};
  EXPECT_EQ(awaitReply(w.session, w.clock, nullptr, enough), 2u);
  EXPECT_EQ(w.tester.readSizes.size(), 1u);
}

TEST(AwaitReply, ASlowReplyIsNotedOnceAfterTwoSeconds) {
  LinkWorld w;
  struct NoteOutlets : fakes::RecordingOutlets {
    using RecordingOutlets::RecordingOutlets;
    void reportSlowReply(bool waiting) override { notes.push_back(waiting); }
    std::vector<bool> notes;
  } outlets{w.log};
  w.tester.arriving.push_back({w.clock.now + 1500, {0xFE, 0xFF}});
  ReplyWait wait{2, w.clock.now + 10000, w.clock.now + slowReplyNoteMs, 0};
  EXPECT_EQ(awaitReply(w.session, w.clock, &outlets, wait), 2u);
  EXPECT_TRUE(outlets.notes.empty()) << "1.5 s is not slow";
  w.tester.arriving.push_back({w.clock.now + 6000, {0xFE, 0xFF}});
  wait = ReplyWait{2, w.clock.now + 10000, w.clock.now + slowReplyNoteMs, 0};
  const uint64_t start = w.clock.now;
  EXPECT_EQ(awaitReply(w.session, w.clock, &outlets, wait), 2u);
  EXPECT_EQ(w.clock.now - start, 6000u);
  EXPECT_EQ(outlets.notes, (std::vector<bool>{true, false}));
}

TEST(AwaitReply, AVanishedPortEndsALongWaitAtOnce) {
  LinkWorld w;
  w.tester.failQueueStatus = true;
  const uint64_t start = w.clock.now;
  EXPECT_EQ(awaitReply(w.session, w.clock, 3, startReplyBoundMs), 0u);
  EXPECT_EQ(w.clock.now, start);
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
