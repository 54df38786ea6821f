#include "bootloader/programming_sequence.hpp"

#include <gtest/gtest.h>

#include <numeric>
#include <string>
#include <vector>

#include "bootloader/wire_protocol.hpp"
#include "fakes/event_log.hpp"
#include "fakes/fake_clock.hpp"
#include "fakes/recording_outlets.hpp"
#include "fakes/scripted_port.hpp"
#include "link/serial_link.hpp"
#include "package/package_buffers.hpp"

namespace quarn {
namespace {

using Bytes = std::vector<uint8_t>;
using fakes::after;
using fakes::hex;
using fakes::Reply;
using fakes::silence;

const char* const devicePath = "\\\\.\\COM7";
const char* const burning = "line:Burning in Progress.\n Do not unplug.\n";

const Bytes deviceIdReply = {0xFD, 0x01, 0x02, 0x03, 0x04, 0x05, 0x06,
                             0x07, 0x08, 0x09, 0x0A, 0x0B, 0x0C, 0xFF};
const Bytes signatureAccepted = {0xFE, 0xFF};
const Bytes startReady = {0x00, 0x00, 0x00};
const Bytes complete = {0xFC, 0xFF};

Reply answer(Bytes now, Bytes afterRead = {}) {
  return Reply{std::move(now), std::move(afterRead), {}, 0};
}
Reply ack(uint32_t blockNumber, Bytes afterRead = {}) {
  return answer({0x00, static_cast<uint8_t>(blockNumber), static_cast<uint8_t>(blockNumber >> 8)},
                std::move(afterRead));
}
// The tester takes no notice of the bootloader request's bytes on the wire; it only restarts.
Reply restart() {
  return silence();
}

// Records the progress hook as well, which the plain recorder leaves to its default.
class ProgressOutlets : public fakes::RecordingOutlets {
 public:
  explicit ProgressOutlets(fakes::EventLog& log) : RecordingOutlets(log) {}
  void reportTransferProgress(uint32_t bytesAcknowledged, uint32_t imageLength) override {
    progress.push_back(std::to_string(bytesAcknowledged) + "/" + std::to_string(imageLength));
  }
  std::vector<std::string> progress;
};

// The sequence touches neither discovery nor the package files.
class NoDevices : public DeviceCatalog {
 public:
  std::unique_ptr<DeviceList> listPresentPorts() override { return nullptr; }
  WideText devicePathPrefix() const override { return u"\\\\.\\"; }
};
class NoFiles : public PackageFileSystem {
 public:
  WideText programFilePath() override { return {}; }
  char16_t pathSeparator() const override { return u'\\'; }
  std::unique_ptr<PackageFile> openForReading(WideView) override { return nullptr; }
};

class ProgrammingSequence : public ::testing::Test {
 protected:
  void SetUp() override {
    session.devicePath = fromUtf8(devicePath);
    session.metadata = FirmwareMetadata{.packageSize = 130,
                                        .packageCrc = 0xCAFEF00D,
                                        .encryptionStatus = 1,
                                        .h7Size = 100,
                                        .h7Crc = 0x11111111,
                                        .g0Size = 30,
                                        .g0Crc = 0x22222222};
    setImage(130);
    // The first opening, made and configured before the package was read.
    session.port = opener.openPort(session.devicePath);
    tester.opens = 0;
    log.events.clear();
  }
  void TearDown() override { imageBuffer.release(); }

  // A fresh first opening and empty records for the next row of a table.
  void startRow() {
    session.port = opener.openPort(session.devicePath);
    tester.writes.clear();
    tester.inputQueue.clear();
    tester.pendingAfterRead.clear();
    tester.arriving.clear();
    tester.discarded.clear();
    log.events.clear();
    outlets.lines.clear();
    outlets.boxes.clear();
    outlets.progress.clear();
  }

  void setImage(uint32_t length) {
    ASSERT_TRUE(imageBuffer.allocate(length));
    std::iota(imageBuffer.data(), imageBuffer.data() + length, uint8_t{0x30});
    session.imageLength = length;
  }

  // The replies that follow the bootloader request.
  void script(std::vector<Reply> replies) {
    tester.replies.assign({restart()});
    for (Reply& reply : replies) tester.replies.push_back(std::move(reply));
  }
  void run() { programTester(session, platform); }

  Bytes expectedBlock(uint32_t blockCounter) const {
    const uint32_t offset = blockCounter * maxBlockData;
    DataBlock block{};
    const size_t length = makeDataBlock(
        block, blockCounter,
        std::span<const uint8_t>(imageBuffer.data() + offset,
                                 std::min(maxBlockData, session.imageLength - offset)));
    return Bytes(block.begin(), block.begin() + static_cast<long>(length));
  }

  // Names each write by the message it is, byte for byte: B bootloader request, D device-ID
  // request, A app signature, S start request, a digit the data block of that number, ? anything
  // else. So a resend that differs from the first sending shows as '?'.
  std::string writtenMessages() const {
    const FirmwareMetadata& m = session.metadata;
    const DeviceIdRequest d = makeDeviceIdRequest(m.packageSize, m.packageCrc, m.encryptionStatus,
                                                  m.h7Size, m.h7Crc, m.g0Size, m.g0Crc);
    const AppSignature a = makeAppSignature({0x04030201, 0x08070605, 0x0C0B0A09});
    const BootloaderRequest b = makeBootloaderRequest();
    const StartRequest s = makeStartRequest();
    const uint32_t blocks = (session.imageLength + maxBlockData - 1) / maxBlockData;
    std::string names;
    for (const Bytes& w : tester.writes) {
      char name = '?';
      if (w == Bytes(b.begin(), b.end())) name = 'B';
      if (w == Bytes(d.begin(), d.end())) name = 'D';
      if (w == Bytes(a.begin(), a.end())) name = 'A';
      if (w == Bytes(s.begin(), s.end())) name = 'S';
      for (uint32_t i = 0; i < blocks && i < 10; ++i) {
        if (w == expectedBlock(i)) name = static_cast<char>('0' + i);
      }
      names += name;
    }
    return names;
  }

  // What holds after every run: the port is closed, a box is the last report and comes before
  // the close, and nothing is sent after it.
  // A box and nothing after "Burning...", or a complete programming; the port closed after either.
  void expectEnding(const char* box) const {
    if (box) {
      EXPECT_EQ(outlets.boxes, std::vector<std::string>{box});
      EXPECT_EQ(outlets.lines, std::vector<std::string>{"Burning in Progress.\n Do not unplug.\n"});
    } else {
      EXPECT_TRUE(outlets.boxes.empty());
      EXPECT_EQ(outlets.lines.back(), "Programming complete.\n");
    }
    expectClosedAfterReports();
  }

  void expectClosedAfterReports() const {
    EXPECT_EQ(tester.openPorts, 0);
    ASSERT_FALSE(log.events.empty());
    EXPECT_EQ(log.events.back(), "close");
    EXPECT_LE(outlets.boxes.size(), 1u);
    if (!outlets.boxes.empty()) {
      EXPECT_EQ(log.events.size() - 2, static_cast<size_t>(log.indexOf("box:" + outlets.boxes[0])))
          << "the box must be the last thing before the port is closed";
    }
  }

  fakes::EventLog log;
  ProgressOutlets outlets{log};
  fakes::FakeClock clock{log};
  fakes::ScriptedTester tester;
  fakes::ScriptedPortOpener opener{tester, clock, log};
  NoDevices devices;
  NoFiles files;
  SessionPlatform platform{outlets, devices, opener, files, clock};
  UpdateSession session;
};

TEST_F(ProgrammingSequence, HappyPathRestartsReopensAndStreamsTheImage) {
  script({answer(deviceIdReply), answer(signatureAccepted), answer(startReady), ack(0), ack(1),
          ack(2, complete)});
  run();

  ASSERT_EQ(writtenMessages(), "BDAS012");
  const std::string reopened = std::string("open:") + devicePath;
  const std::vector<std::string> expected = {
      burning,
      "write:" + hex(makeBootloaderRequest()),
      "sleep:3000",
      "close",
      reopened,
      "write:" + hex(tester.writes[1]),
      "read:14",
      "write:" + hex(tester.writes[2]),
      "read:2",
      "write:FF FF FF",
      "read:3",
      "write:" + hex(expectedBlock(0)),
      "read:3",
      "write:" + hex(expectedBlock(1)),
      "read:3",
      "write:" + hex(expectedBlock(2)),
      "read:3",
      "read:2",
      "line:Programming complete.\n",
      "close",
  };
  EXPECT_EQ(log.events, expected);
  EXPECT_EQ(tester.writes[1], Bytes({0xFD, 0x82, 0x00, 0x00, 0x00, 0x0D, 0xF0, 0xFE, 0xCA,
                                     0x01, 0x64, 0x00, 0x00, 0x00, 0x11, 0x11, 0x11, 0x11,
                                     0x1E, 0x00, 0x00, 0x00, 0x22, 0x22, 0x22, 0x22, 0xFF}));
  EXPECT_EQ(session.deviceId, (DeviceId{0x04030201, 0x08070605, 0x0C0B0A09}));
  EXPECT_TRUE(tester.appliedSettings) << "the reopened port is configured";
  EXPECT_EQ(tester.opens, 1);
  EXPECT_EQ(outlets.progress, (std::vector<std::string>{"0/130", "60/130", "120/130", "130/130"}));
  expectClosedAfterReports();
}

TEST_F(ProgrammingSequence, ImageIsCutIntoBlocksOfSixtyWithoutAnEmptyLastBlock) {
  struct Row {
    uint32_t imageLength;
    std::vector<size_t> blockSizes;
  };
  const Row rows[] = {{130, {63, 63, 13}}, {120, {63, 63}}, {61, {63, 4}}, {1, {4}}, {0, {}}};
  for (const Row& row : rows) {
    SCOPED_TRACE("image of " + std::to_string(row.imageLength) + " bytes");
    imageBuffer.release();
    setImage(row.imageLength);
    session.metadata.packageSize = static_cast<int32_t>(row.imageLength);
    startRow();

    std::vector<Reply> replies = {answer(deviceIdReply), answer(signatureAccepted)};
    const uint32_t blocks = static_cast<uint32_t>(row.blockSizes.size());
    replies.push_back(answer(startReady, blocks == 0 ? complete : Bytes{}));
    for (uint32_t i = 0; i < blocks; ++i)
      replies.push_back(ack(i, i + 1 == blocks ? complete : Bytes{}));
    script(std::move(replies));
    run();

    ASSERT_EQ(tester.writes.size(), 4 + row.blockSizes.size());
    std::vector<size_t> sizes;
    for (size_t i = 4; i < tester.writes.size(); ++i) sizes.push_back(tester.writes[i].size());
    EXPECT_EQ(sizes, row.blockSizes);
    Bytes carried;
    for (size_t i = 4; i < tester.writes.size(); ++i) {
      carried.insert(carried.end(), tester.writes[i].begin() + 3, tester.writes[i].end());
    }
    EXPECT_EQ(carried, Bytes(imageBuffer.data(), imageBuffer.data() + row.imageLength));
    EXPECT_EQ(outlets.lines.back(), "Programming complete.\n");
    expectClosedAfterReports();
  }
}

// One retry count serves both kinds of block failure; the box names the kind of the last one.
TEST_F(ProgrammingSequence, BlockRetryMatrix) {
  const Bytes wrong = {0x00, 0x01, 0x00};  // acknowledges block 1 while block 0 is out
  struct Row {
    const char* name;
    std::vector<Reply> blockReplies;
    std::string writes;
    const char* box;  // nullptr: the transfer completes
  };
  const std::vector<Row> rows = {
      {"acknowledged at the fourth sending, next block has four again",
       {silence(), answer(wrong), silence(), ack(0), silence(), silence(), silence(), ack(1),
        ack(2, complete)},
       "BDAS000011112",
       nullptr},
      {"echoes block 1 every time, a stray completion reply behind the last echo",
       {answer(wrong), answer(wrong), answer(wrong), answer(wrong, complete)},
       "BDAS0000",
       "1 Failed to program firmware."},
      {"never answers", {}, "BDAS0000", "2 Failed to program firmware."},
      {"two silences then two wrong numbers",
       {silence(), silence(), answer(wrong), answer(wrong)},
       "BDAS0000",
       "1 Failed to program firmware."},
      {"two wrong numbers then two silences",
       {answer(wrong), answer(wrong), silence(), silence()},
       "BDAS0000",
       "2 Failed to program firmware."},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    startRow();

    std::vector<Reply> replies = {answer(deviceIdReply), answer(signatureAccepted),
                                  answer(startReady)};
    for (const Reply& reply : row.blockReplies) replies.push_back(reply);
    script(std::move(replies));
    run();

    EXPECT_EQ(writtenMessages(), row.writes);
    expectEnding(row.box);
  }
}

// Each step's attempts, verdicts and boxes. Resends are recognised byte for byte, so a resend
// built from a reply would show as '?'.
TEST_F(ProgrammingSequence, StepOutcomes) {
  const Bytes badMarkers = {0xFE, 0x01, 0x02, 0x03, 0x04, 0x05, 0x06,
                            0x07, 0x08, 0x09, 0x0A, 0x0B, 0x0C, 0xFF};
  const Bytes noTrailer = {0xFD, 0x99, 0x99, 0x99, 0x99, 0x99, 0x99,
                           0x99, 0x99, 0x99, 0x99, 0x99, 0x99, 0x00};
  const std::vector<Reply> untilStart = {answer(deviceIdReply), answer(signatureAccepted)};
  const auto after = [](std::vector<Reply> head, std::vector<Reply> tail) {
    head.insert(head.end(), tail.begin(), tail.end());
    return head;
  };
  const std::vector<Reply> transfer = {answer(startReady), ack(0), ack(1), ack(2, complete)};
  struct Row {
    const char* name;
    std::vector<Reply> replies;
    std::string writes;
    const char* box;  // nullptr: the transfer completes
  };
  const std::vector<Row> rows = {
      {"device ID: three replies with wrong markers",
       {answer(badMarkers), answer(noTrailer), answer(badMarkers)},
       "BDDD",
       "Failed to retrieve Device ID."},
      {"device ID: silent three times", {}, "BDDD", "Failed to retrieve Device ID."},
      {"device ID: wrong markers, then accepted",
       after({answer(noTrailer), answer(deviceIdReply), answer(signatureAccepted)}, transfer),
       "BDDAS012", nullptr},
      {"signature rejected at once",
       {answer(deviceIdReply), answer({0x00, 0xFF})},
       "BDA",
       "App Signiture Mismatch."},
      {"signature without verdict, then accepted",
       after({answer(deviceIdReply), answer({0xFE, 0x00}), answer(signatureAccepted)}, transfer),
       "BDAAS012", nullptr},
      {"signature: no verdict three times",
       {answer(deviceIdReply), answer({0xFE, 0x00}), silence(), answer({0xFE, 0x00})},
       "BDAAA",
       "App Signiture Failed."},
      {"start refused", after(untilStart, {answer({0x00, 0x00, 0x01})}), "BDAS",
       "Please unplug and reconnect the tester and try again."},
      {"start: no reply three times", untilStart, "BDASSS", "Failed to program firmware."},
      {"start: silent twice, then ready",
       after(untilStart, after({silence(), silence()}, transfer)), "BDASSS012", nullptr},
      {"start ready with a non-zero first byte",
       after(untilStart, {answer({0x7F, 0x00, 0x00}), ack(0), ack(1), ack(2, complete)}), "BDAS012",
       nullptr},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    startRow();

    script(row.replies);
    run();

    EXPECT_EQ(writtenMessages(), row.writes);
    expectEnding(row.box);
  }
}

TEST_F(ProgrammingSequence, CompletionReplyDecidesTheLastLine) {
  struct Row {
    Bytes completion;
    std::vector<std::string> lines;
  };
  const std::string first = "Burning in Progress.\n Do not unplug.\n";
  const Row rows[] = {
      {{0xFC, 0xFF}, {first, "Programming complete.\n"}},
      {{0x00, 0xFF}, {first, "G0 FW update failed.\n"}},
      {{0x01, 0xFF}, {first, "FW crc32 check failed.\n"}},
      {{0xFC, 0x00}, {first}},
      {{}, {first}},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(hex(row.completion));
    startRow();

    script({answer(deviceIdReply), answer(signatureAccepted), answer(startReady), ack(0), ack(1),
            ack(2, row.completion)});
    run();

    EXPECT_EQ(writtenMessages(), "BDAS012") << "nothing is sent for the completion reply";
    EXPECT_EQ(outlets.lines, row.lines);
    EXPECT_TRUE(outlets.boxes.empty());
    expectClosedAfterReports();
  }
}

TEST_F(ProgrammingSequence, FailedReopeningReportsOnlyItsLineAndSendsNothingMore) {
  tester.openResults = {false};
  script({answer(deviceIdReply)});
  run();

  const std::vector<std::string> expected = {
      burning,
      "write:" + hex(makeBootloaderRequest()),
      "sleep:3000",
      "close",
      std::string("open-failed:") + devicePath,
      std::string("line:Failed to open ") + devicePath + "\n",
  };
  EXPECT_EQ(log.events, expected);
  EXPECT_TRUE(outlets.boxes.empty());
  EXPECT_EQ(tester.openPorts, 0);
  EXPECT_FALSE(session.port);
}

// Only block counters up to 65,535 can be acknowledged: block 65,536 goes out as number 0, and
// the tester's answer 0 does not acknowledge it.
TEST_F(ProgrammingSequence, BlockPastTheSixteenBitRangeIsNeverAcknowledged) {
  constexpr uint32_t acknowledgeable = 65536;
  imageBuffer.release();
  setImage(acknowledgeable * maxBlockData + 1);
  std::vector<Reply> replies = {answer(deviceIdReply), answer(signatureAccepted),
                                answer(startReady)};
  for (uint32_t block = 0; block < acknowledgeable; ++block) replies.push_back(ack(block));
  for (int sending = 0; sending < 4; ++sending) replies.push_back(ack(0));
  script(std::move(replies));
  run();

  ASSERT_EQ(tester.writes.size(), 4u + acknowledgeable + 4u);
  const Bytes& last = tester.writes.back();
  EXPECT_EQ(hex(std::span<const uint8_t>(last).first(3)), "FF 00 00");
  EXPECT_EQ(last.size(), 4u);
  EXPECT_EQ(outlets.boxes, std::vector<std::string>{"1 Failed to program firmware."});
  expectClosedAfterReports();
}

// --- Issue 16: a slow tester is not a failed one ----------------------------------------------

std::vector<Reply> concat(std::vector<Reply> head, const std::vector<Reply>& tail) {
  head.insert(head.end(), tail.begin(), tail.end());
  return head;
}

// Item 1: each step waits as long as its own bound, so a slow answer is taken at the first
// sending; a silent step still ends after its sendings.
TEST_F(ProgrammingSequence, EachStepWaitsItsOwnBound) {
  struct Row {
    const char* name;
    std::vector<Reply> replies;
    std::string writes;
    const char* box;
  };
  const std::vector<Reply> blocks = {ack(0), ack(1), ack(2, complete)};
  const std::vector<Row> rows = {
      {"device-ID reply after 6 s",
       concat({after(6000, deviceIdReply), answer(signatureAccepted), answer(startReady)}, blocks),
       "BDAS012", nullptr},
      {"signature verdict after 9.5 s",
       concat({answer(deviceIdReply), after(9500, signatureAccepted), answer(startReady)}, blocks),
       "BDAS012", nullptr},
      {"start reply after 8 s",
       concat({answer(deviceIdReply), answer(signatureAccepted), after(8000, startReady)}, blocks),
       "BDAS012", nullptr},
      {"start reply after 34 s",
       concat({answer(deviceIdReply), answer(signatureAccepted), after(34000, startReady)}, blocks),
       "BDAS012", nullptr},
      {"block acknowledgement after 3.5 s",
       {answer(deviceIdReply), answer(signatureAccepted), answer(startReady), ack(0),
        after(3500, {0x00, 0x01, 0x00}), ack(2, complete)},
       "BDAS012",
       nullptr},
      {"device-ID reply after 10.5 s: too late for the first sending",
       concat({after(10500, deviceIdReply), answer(deviceIdReply), answer(signatureAccepted),
               answer(startReady)},
              blocks),
       "BDDAS012", nullptr},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    startRow();
    script(row.replies);
    run();
    EXPECT_EQ(writtenMessages(), row.writes);
    expectEnding(row.box);
  }
}

TEST_F(ProgrammingSequence, SilentStepsEndAfterTheirSendingsAndBounds) {
  struct Row {
    const char* name;
    std::vector<Reply> replies;
    uint64_t waitedMs;  // after the restart pause
    const char* box;
  };
  const std::vector<Row> rows = {
      {"device ID", {}, 3 * deviceIdReplyBoundMs, "Failed to retrieve Device ID."},
      {"signature", {answer(deviceIdReply)}, 3 * signatureReplyBoundMs, "App Signiture Failed."},
      {"start",
       {answer(deviceIdReply), answer(signatureAccepted)},
       3 * startReplyBoundMs,
       "Failed to program firmware."},
      {"block",
       {answer(deviceIdReply), answer(signatureAccepted), answer(startReady)},
       4 * blockAckBoundMs,
       "2 Failed to program firmware."},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    startRow();
    script(row.replies);
    const uint64_t start = clock.now;
    run();
    EXPECT_EQ(clock.now - start - bootloaderRestartPauseMs, row.waitedMs);
    expectEnding(row.box);
  }
}

// Item 3: a reply that comes after its wait gave up is not read as the next message's reply.
TEST_F(ProgrammingSequence, LateRepliesAreNotTakenForTheNextMessagesReply) {
  // An ID that begins with FF: read as a signature reply it is a verdict, and a rejection.
  const Bytes idFF = {0xFD, 0xFF, 0x02, 0x03, 0x04, 0x05, 0x06,
                      0x07, 0x08, 0x09, 0x0A, 0x0B, 0x0C, 0xFF};
  struct Row {
    const char* name;
    std::vector<Reply> replies;
  };
  const std::vector<Reply> blocks = {ack(0), ack(1), ack(2, complete)};
  const std::vector<Row> rows = {
      {"a second device-ID reply queued before the signature goes out",
       concat({answer(idFF, idFF), answer(signatureAccepted), answer(startReady)}, blocks)},
      {"a second signature verdict queued before the start request goes out",
       concat({answer(deviceIdReply), answer(signatureAccepted, signatureAccepted),
               answer(startReady)},
              blocks)},
      {"a second start reply queued before block 0 goes out",
       concat({answer(deviceIdReply), answer(signatureAccepted), answer(startReady, {0, 0, 1})},
              blocks)},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    startRow();
    script(row.replies);
    run();
    EXPECT_EQ(tester.writes.size(), 7u) << "one sending per step";
    expectEnding(nullptr);
    EXPECT_EQ(tester.discarded.size(), 1u);
  }
}

// Item 3: while block k is awaited, a late acknowledgement of block k-1 (an answer to one of its
// extra sendings) is dropped, as often as k-1 had extra sendings; every other number, and more
// of them, is a wrong number as before.
TEST_F(ProgrammingSequence, LateAcknowledgementsOfThePreviousBlock) {
  const Bytes ack0 = {0x00, 0x00, 0x00};
  const Bytes ack1 = {0x00, 0x01, 0x00};
  struct Row {
    const char* name;
    std::vector<Reply> blockReplies;
    std::string writes;
    const char* box;
  };
  Bytes bothAcks = ack0;
  bothAcks.insert(bothAcks.end(), ack1.begin(), ack1.end());
  const std::vector<Row> rows = {
      {"block 0 sent twice; its late answer read together with block 1's",
       {silence(), ack(0), answer(bothAcks), ack(2, complete)},
       "BDAS0012",
       nullptr},
      {"block 0 sent twice; its late answer, block 1's 300 ms later",
       {silence(), ack(0), Reply{ack0, {}, ack1, 300}, ack(2, complete)},
       "BDAS0012",
       nullptr},
      {"block 0 sent once: an acknowledgement of 0 while 1 is awaited is a wrong number",
       {ack(0), answer(ack0), answer(ack0), answer(ack0), answer(ack0)},
       "BDAS01111",
       "1 Failed to program firmware."},
      {"block 0 sent twice, then block 1 always answered with 0: one dropped, no more",
       {silence(), ack(0), answer(ack0), answer(ack0), answer(ack0), answer(ack0)},
       "BDAS001111",
       "1 Failed to program firmware."},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    startRow();
    std::vector<Reply> replies = {answer(deviceIdReply), answer(signatureAccepted),
                                  answer(startReady)};
    for (const Reply& reply : row.blockReplies) replies.push_back(reply);
    script(std::move(replies));
    run();
    EXPECT_EQ(writtenMessages(), row.writes);
    expectEnding(row.box);
  }
}

// Item 2: what was read beyond the last acknowledgement leads the completion wait, and further
// acknowledgements of the last block are dropped before the verdict.
TEST_F(ProgrammingSequence, VerdictBehindTheLastAcknowledgement) {
  const Bytes ack2 = {0x00, 0x02, 0x00};
  auto join = [](std::initializer_list<Bytes> parts) {
    Bytes all;
    for (const Bytes& p : parts) all.insert(all.end(), p.begin(), p.end());
    return all;
  };
  struct Row {
    const char* name;
    std::vector<Reply> lastBlockReplies;
    std::string writes;
    std::vector<std::string> lines;
  };
  const std::string first = "Burning in Progress.\n Do not unplug.\n";
  const std::vector<Row> rows = {
      {"verdict in the same read as the acknowledgement",
       {answer(join({ack2, complete}))},
       "BDAS012",
       {first, "Programming complete.\n"}},
      {"G0 verdict in the same read",
       {answer(join({ack2, {0x00, 0xFF}}))},
       "BDAS012",
       {first, "G0 FW update failed.\n"}},
      {"last block resent: its second acknowledgement and the verdict after the read",
       {silence(), answer(ack2, join({ack2, complete}))},
       "BDAS0122",
       {first, "Programming complete.\n"}},
      {"last block resent: both acknowledgements and the verdict in one read",
       {silence(), answer(join({ack2, ack2, complete}))},
       "BDAS0122",
       {first, "Programming complete.\n"}},
      {"a second acknowledgement cut after two bytes",
       {answer(join({ack2, {0x00, 0x02}}), {0x00, 0xFC, 0xFF})},
       "BDAS012",
       {first, "Programming complete.\n"}},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    startRow();
    std::vector<Reply> replies = {answer(deviceIdReply), answer(signatureAccepted),
                                  answer(startReady), ack(0), ack(1)};
    for (const Reply& reply : row.lastBlockReplies) replies.push_back(reply);
    script(std::move(replies));
    run();
    EXPECT_EQ(writtenMessages(), row.writes);
    EXPECT_EQ(outlets.lines, row.lines);
    expectClosedAfterReports();
  }
}

// An acknowledgement of a last block numbered ..FF starts "00 FF", which is also a verdict: when
// no third byte follows, the two bytes are the verdict.
TEST_F(ProgrammingSequence, TwoBytesThatMayStartAnAcknowledgementOfBlockFF) {
  imageBuffer.release();
  setImage(256 * maxBlockData);  // blocks 0 to 255
  session.metadata.packageSize = static_cast<int32_t>(256 * maxBlockData);
  std::vector<Reply> replies = {answer(deviceIdReply), answer(signatureAccepted),
                                answer(startReady)};
  for (uint32_t block = 0; block < 255; ++block) replies.push_back(ack(block));
  replies.push_back(answer({0x00, 0xFF, 0x00, 0x00, 0xFF}));
  script(std::move(replies));
  run();
  EXPECT_EQ(outlets.lines.back(), "G0 FW update failed.\n");
}

}  // namespace
}  // namespace quarn
