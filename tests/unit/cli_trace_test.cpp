// The trace of a session: every line is JSON written as its event happens, times rise, the
// bootloader exchange appears byte for byte, data blocks as number, length and CRC-32 (or whole
// with --trace-full), and a failed opening carries the OS's reason.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "cJSON.h"
#include "cli/tracing_seams.hpp"
#include "fakes/fake_platform.hpp"
#include "package/crc32.hpp"
#include "session/update_worker.hpp"

namespace quarn::cli {
namespace {

struct LineSink : TraceSink {
  void writeLine(std::string_view line) override { lines.emplace_back(line); }
  std::vector<std::string> lines;
};

struct JsonLine {
  explicit JsonLine(const std::string& text) : item(cJSON_Parse(text.c_str())) {}
  ~JsonLine() { cJSON_Delete(item); }
  JsonLine(const JsonLine&) = delete;
  JsonLine& operator=(const JsonLine&) = delete;
  std::string text(const char* name) const {
    const cJSON* member = cJSON_GetObjectItemCaseSensitive(item, name);
    return cJSON_IsString(member) ? member->valuestring : std::string();
  }
  double number(const char* name) const {
    const cJSON* member = cJSON_GetObjectItemCaseSensitive(item, name);
    return cJSON_IsNumber(member) ? member->valuedouble : -1;
  }
  cJSON* item;
};

std::string hexOf(const std::vector<uint8_t>& bytes) {
  std::string text;
  char digits[3];
  for (const uint8_t b : bytes) {
    std::snprintf(digits, sizeof digits, "%02x", b);
    text += digits;
  }
  return text;
}

struct TracedSession : fakes::FakePlatform {
  std::vector<uint8_t> image;
  LineSink sink;

  // One tester on COM7 with a 70-byte package (two blocks) that it takes and checks good.
  TracedSession() {
    devices.devices.push_back({u"Zentrika QUARN", u"USB Serial Device (COM7)"});
    for (int i = 0; i < 70; ++i) image.push_back(static_cast<uint8_t>(i * 5 + 1));
    files.put(u"QUARN.bin", image);
    buildCrc32Table();
    char metadata[300];
    std::snprintf(
        metadata, sizeof metadata,
        R"({"QUARN":{"size":70,"crc32":"%08x"},"encryption":{"status":0},)"
        R"("H7":{"size":1,"crc32":"1","version":2},"G0":{"size":2,"crc32":"2","version":2}})",
        computeCrc32(image.data(), image.size()));
    files.put(u"metadata.json", std::vector<uint8_t>(metadata, metadata + std::strlen(metadata)));
    tester.replies = {
        fakes::silence(),         {{0xFD, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 0xFF}, {}},
        {{0xFE, 0xFF}, {}},       {{0x00, 0x00, 0x00}, {}},
        {{0x00, 0x00, 0x00}, {}}, {{0x00, 0x01, 0x00}, {0xFC, 0xFF}}};
  }

  void run(bool fullBlocks) {
    TraceRecorder trace(sink, clock, fullBlocks, {"3.8.0", "linux", "2026-12-11T14:00:00Z"});
    TracingPortOpener tracedPorts(ports, trace,
                                  [](uint32_t error) { return "E" + std::to_string(error); });
    TracingClock tracedClock(clock, trace);
    SessionPlatform traced{outlets, devices, tracedPorts, files, tracedClock};
    updateWorker(traced);
    trace.result("programmingComplete", 0);
  }

  std::vector<std::string> events() const {
    std::vector<std::string> names;
    for (const std::string& line : sink.lines) names.push_back(JsonLine(line).text("event"));
    return names;
  }
};

TEST(CliTrace, RecordsTheWholeExchangeAsJsonLinesWithRisingTimes) {
  TracedSession session;
  session.run(false);
  ASSERT_FALSE(session.sink.lines.empty());
  const JsonLine header(session.sink.lines.front());
  EXPECT_EQ(header.text("trace"), "quarn-update");
  EXPECT_EQ(header.number("version"), 1);
  EXPECT_EQ(header.text("started"), "2026-12-11T14:00:00Z");

  const std::vector<std::string> expected = {
      "",          "open", "configure", "tx", "pause", "close", "open",
      "configure", "tx",   "rx",        "tx", "rx",    "tx",    "rx",
      "tx",        "rx",   "tx",        "rx", "rx",    "close", "result"};
  EXPECT_EQ(session.events(), expected);

  double last = 0;
  for (size_t i = 1; i < session.sink.lines.size(); ++i) {
    const std::string& line = session.sink.lines[i];
    ASSERT_EQ(line.back(), '\n') << line;
    const JsonLine json(line);
    ASSERT_NE(json.item, nullptr) << line;
    EXPECT_GE(json.number("t"), last) << line;
    last = json.number("t");
  }
  // The restart's pause was 3 s of the clock: the trace's times are microseconds.
  EXPECT_GE(last, 3'000'000);
  EXPECT_EQ(JsonLine(session.sink.lines[4]).number("ms"), 3000);
  EXPECT_EQ(JsonLine(session.sink.lines[3]).text("hex"), "02424f4f544c4f414445523d3103");
  EXPECT_EQ(JsonLine(session.sink.lines[9]).text("hex"), "fd0102030405060708090a0b0cff");
}

TEST(CliTrace, DataBlocksAppearAsNumberLengthAndCrcUnlessFull) {
  for (const bool full : {false, true}) {
    TracedSession session;
    session.run(full);
    const std::vector<std::vector<uint8_t>>& writes = session.tester.writes;
    ASSERT_EQ(writes.size(), 6u);
    const JsonLine block1(session.sink.lines[16]);
    ASSERT_EQ(block1.text("event"), "tx");
    if (full) {
      EXPECT_EQ(block1.text("hex"), hexOf(writes[5]));
      EXPECT_EQ(block1.number("block"), -1);
    } else {
      EXPECT_EQ(block1.text("hex"), "");
      EXPECT_EQ(block1.number("block"), 1);
      EXPECT_EQ(block1.number("length"), 13);
      char crc[9];
      std::snprintf(crc, sizeof crc, "%08x", computeCrc32(writes[5].data(), writes[5].size()));
      EXPECT_EQ(block1.text("crc32"), crc);
      // The start request itself is not a block.
      EXPECT_EQ(JsonLine(session.sink.lines[12]).text("hex"), "ffffff");
    }
  }
}

// The trace passes the opener's "not there yet" through, so the second opening still waits for
// a tester that comes back late, and each try is in the trace.
TEST(CliTrace, TheSecondOpeningStillWaitsForALateTester) {
  TracedSession late;
  late.tester.openResults = {true, false, false, true};
  late.tester.openFailures = {OpenFailure{2, true}, OpenFailure{2, true}};
  late.run(false);
  ASSERT_FALSE(late.outlets.lines.empty());
  EXPECT_EQ(late.outlets.lines.back(), "Programming complete.\n");
  std::vector<std::string> opens;
  for (const std::string& line : late.sink.lines) {
    const JsonLine json(line);
    if (json.text("event") == "open") opens.push_back(json.text("error"));
  }
  EXPECT_EQ(opens, (std::vector<std::string>{"", "E2", "E2", ""}));
}

TEST(CliTrace, AFailedOpeningCarriesTheReasonAndALostPortIsGoneOnce) {
  TracedSession failing;
  failing.tester.openResults = {true, false};
  failing.tester.openFailures = {OpenFailure{13, false}};
  failing.run(false);
  const JsonLine reopen(failing.sink.lines[6]);
  EXPECT_EQ(reopen.text("event"), "open");
  EXPECT_TRUE(cJSON_IsFalse(cJSON_GetObjectItemCaseSensitive(reopen.item, "ok")));
  EXPECT_EQ(reopen.text("error"), "E13");
  EXPECT_EQ(reopen.text("path"), "\\\\.\\COM7");

  TracedSession vanishing;
  vanishing.tester.replies.resize(1);
  vanishing.tester.failQueueStatus = true;
  vanishing.run(false);
  // Each port stops answering once in the trace, however often the session asks it again.
  const std::vector<std::string> names = vanishing.events();
  const std::vector<std::string> expected = {"open",  "configure", "gone",      "tx",    "pause",
                                             "close", "open",      "configure", "gone",  "tx",
                                             "tx",    "tx",        "close",     "result"};
  EXPECT_EQ(std::vector<std::string>(names.begin() + 1, names.end()), expected);
}

}  // namespace
}  // namespace quarn::cli
