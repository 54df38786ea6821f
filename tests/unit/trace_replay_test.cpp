// The replay of a recorded tester: a trace becomes steps with their replies timed from each
// step's first message, a verdict behind the last acknowledgement becomes the completion, the
// restart's absence is read from the openings, and the host is held to the recorded first
// message of every step while it may resend as often as it likes.
#include "trace_replay.hpp"

#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <string>

namespace quarn::sim {
namespace {

using std::chrono::microseconds;
using std::chrono::milliseconds;

const char* const kBootloader = "02424f4f544c4f414445523d3103";
const char* const kDeviceId = "fd0a000000000000000000000000000000000000000000000000ff";

struct TraceFile {
  explicit TraceFile(const std::vector<std::string>& lines) {
    path = ::testing::TempDir() + "replay_" +
           ::testing::UnitTest::GetInstance()->current_test_info()->name() + ".jsonl";
    std::ofstream out(path);
    out << R"({"trace":"quarn-update","version":1,"program":"3.8.0","os":"linux","started":"x"})"
        << "\n";
    for (const std::string& line : lines) out << line << "\n";
  }
  ~TraceFile() { std::remove(path.c_str()); }
  std::string path;
};

std::string tx(int t, const std::string& hex) {
  return R"({"t":)" + std::to_string(t) + R"(,"event":"tx","hex":")" + hex + R"("})";
}
std::string rx(int t, const std::string& hex) {
  return R"({"t":)" + std::to_string(t) + R"(,"event":"rx","hex":")" + hex + R"("})";
}
std::string event(int t, const std::string& rest) {
  return R"({"t":)" + std::to_string(t) + R"(,"event":)" + rest + "}";
}

Bytes bytes(const std::string& hex) {
  Bytes out;
  for (size_t i = 0; i + 1 < hex.size(); i += 2) {
    out.push_back(static_cast<uint8_t>(std::stoul(hex.substr(i, 2), nullptr, 16)));
  }
  return out;
}

// A session that restarted, needed its device-ID request twice, and got its last block's
// acknowledgement and the verdict in one read.
std::vector<std::string> session() {
  return {event(0, R"("open","path":"/dev/ttyACM0","ok":true)"),
          tx(10, kBootloader),
          event(20, R"("pause","ms":3000)"),
          event(3'000'000, R"("close")"),
          event(3'000'100, R"("open","path":"/dev/ttyACM0","ok":false,"error":"ENOENT")"),
          event(3'100'100, R"("open","path":"/dev/ttyACM0","ok":true)"),
          tx(3'100'200, kDeviceId),
          tx(5'600'200, kDeviceId),
          rx(5'600'700, "fd0102030405060708090a0b0cff"),
          tx(5'601'000, "ffffff"),
          rx(5'601'100, "000000"),
          event(5'602'000, R"("tx","block":0,"length":4,"crc32":"24fa103b")"),
          rx(5'602'300, "000000fcff"),
          event(5'603'000, R"("close")"),
          event(5'603'100, R"("result","code":"programmingComplete","exit":0)")};
}

TEST(TraceReplay, ReadsStepsRepliesCompletionAndTheRestart) {
  const TraceFile file(session());
  std::string error;
  const std::optional<ReplayScript> script = loadReplayScript(file.path, error);
  ASSERT_TRUE(script) << error;
  ASSERT_EQ(script->steps.size(), 4u);  // the resent device-ID request is the same step
  EXPECT_EQ(script->steps[0].kind, ReplayStepKind::bootloader);
  const RecordedStep& deviceId = script->steps[1];
  EXPECT_EQ(deviceId.line, 8u);
  ASSERT_EQ(deviceId.replies.size(), 1u);
  EXPECT_EQ(deviceId.replies[0].after, microseconds(2'500'500));  // from the first sending
  const RecordedStep& block = script->steps[3];
  EXPECT_EQ(block.kind, ReplayStepKind::block);
  EXPECT_EQ(block.length, 4u);
  ASSERT_EQ(block.replies.size(), 1u);
  EXPECT_EQ(block.replies[0].bytes, bytes("000000"));
  ASSERT_TRUE(script->completion);
  EXPECT_EQ(script->completion->bytes, bytes("fcff"));
  EXPECT_EQ(script->completion->after, microseconds(0));  // in the same write
  // Back between the failed opening and the one that worked.
  ASSERT_TRUE(script->restartAway);
  EXPECT_EQ(*script->restartAway, milliseconds(3'050));
}

TEST(TraceReplay, AnswersResendsWithNothingNewAndNamesTheFirstDifference) {
  const TraceFile file(session());
  std::string error;
  const std::optional<ReplayScript> script = loadReplayScript(file.path, error);
  ASSERT_TRUE(script) << error;
  ReplayTester tester(*script);
  EXPECT_TRUE(tester.answer(bytes(kBootloader)).enteredBootloader);
  const ReplayAnswer first = tester.answer(bytes(kDeviceId));
  ASSERT_FALSE(first.differs);
  EXPECT_EQ(first.replies.size(), 1u);
  // A newer host that sends the request once more or three times gets nothing more for it.
  const ReplayAnswer again = tester.answer(bytes(kDeviceId));
  EXPECT_FALSE(again.differs);
  EXPECT_TRUE(again.replies.empty());
  // Block 0 out of turn, before the start request: the record's line is named.
  const ReplayAnswer early = tester.answer(bytes("ff00002a"));
  ASSERT_TRUE(early.differs);
  EXPECT_NE(early.differs->find("trace line 11: expected the start request FF FF FF"),
            std::string::npos)
      << *early.differs;
}

TEST(TraceReplay, HoldsTheHostToTheRecordedBytesAndTheRecordedEnd) {
  const TraceFile file(session());
  std::string error;
  const std::optional<ReplayScript> script = loadReplayScript(file.path, error);
  ASSERT_TRUE(script) << error;
  ReplayTester edited(*script);
  ASSERT_FALSE(edited.answer(bytes(kBootloader)).differs);
  std::string otherId = kDeviceId;
  otherId[2] = 'b';
  const ReplayAnswer wrongId = edited.answer(bytes(otherId));
  ASSERT_TRUE(wrongId.differs);
  EXPECT_NE(wrongId.differs->find("trace line 8"), std::string::npos) << *wrongId.differs;

  ReplayTester full(*script);
  for (const char* hex : {kBootloader, kDeviceId, "ffffff"}) full.answer(bytes(hex));
  const ReplayAnswer wrongBlock = full.answer(bytes("ff000099"));  // same length, other CRC
  ASSERT_TRUE(wrongBlock.differs);
  EXPECT_NE(wrongBlock.differs->find("CRC-32 24fa103b"), std::string::npos) << *wrongBlock.differs;
  const ReplayAnswer lastBlock = full.answer(bytes("ff00002a"));
  EXPECT_FALSE(lastBlock.differs);
  EXPECT_TRUE(lastBlock.last);
  const ReplayAnswer beyond = full.answer(bytes("ff01002a"));
  ASSERT_TRUE(beyond.differs);
  EXPECT_NE(beyond.differs->find("the recorded session ended"), std::string::npos);
}

TEST(TraceReplay, RefusesWhatIsNoTrace) {
  std::string error;
  EXPECT_FALSE(loadReplayScript("/nonexistent/trace.jsonl", error));
  const TraceFile garbage({"not json"});
  EXPECT_FALSE(loadReplayScript(garbage.path, error));
  EXPECT_NE(error.find(":2: not a JSON object"), std::string::npos) << error;
  const TraceFile odd({tx(1, "0102")});
  EXPECT_FALSE(loadReplayScript(odd.path, error));
  EXPECT_NE(error.find(":2: a message no host sends"), std::string::npos) << error;
}

}  // namespace
}  // namespace quarn::sim
