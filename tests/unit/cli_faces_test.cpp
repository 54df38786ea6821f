// The command line's faces and its reporter: JSON shapes, the terminal's progress and waiting
// note, --quiet, and the progress throttle.
#include <gtest/gtest.h>

#include "cJSON.h"
#include "cli/cli_reporter.hpp"
#include "cli/human_face.hpp"
#include "cli/json_face.hpp"
#include "fakes/console_capture.hpp"
#include "fakes/fake_clock.hpp"
#include "session/messages.hpp"

namespace quarn::cli {
namespace {

using fakes::CapturedStream;

struct ParsedJson {
  explicit ParsedJson(const std::string& line) : root(cJSON_Parse(line.c_str())) {}
  ~ParsedJson() { cJSON_Delete(root); }
  std::string text(const char* path0, const char* path1 = nullptr) const {
    const cJSON* item = cJSON_GetObjectItemCaseSensitive(root, path0);
    if (path1) item = cJSON_GetObjectItemCaseSensitive(item, path1);
    return cJSON_IsString(item) ? item->valuestring : cJSON_IsNull(item) ? "null" : "?";
  }
  double number(const char* path0, const char* path1 = nullptr, const char* path2 = nullptr) const {
    const cJSON* item = cJSON_GetObjectItemCaseSensitive(root, path0);
    if (path1) item = cJSON_GetObjectItemCaseSensitive(item, path1);
    if (path2) item = cJSON_GetObjectItemCaseSensitive(item, path2);
    return cJSON_IsNumber(item) ? item->valuedouble : -1;
  }
  cJSON* root;
};

std::string jsonLineOf(const CliEvent& event) {
  CapturedStream out;
  JsonFace(out).render(event);
  return out.text;
}

TEST(JsonFace, EachEventIsOneObjectOnOneLine) {
  FirmwareMetadata metadata;
  metadata.packageSize = 3000;
  metadata.packageCrc = 0xB9FF87F3;
  metadata.h7Version = 3.8f;
  metadata.g0Version = 3.8f;
  const struct {
    CliEvent event;
    std::vector<std::pair<const char*, std::string>> texts;  // member -> value
  } rows[] = {
      {LineEvent{ReportCode::burningInProgress, WideText(messages::burningInProgress.text)},
       {{"event", "line"},
        {"code", "burningInProgress"},
        {"text", "Burning in Progress.\n Do not unplug.\n"}}},
      {ErrorEvent{"noTester", "No \"tester\"\t\x01", ErrorEvent::Source::session},
       {{"event", "error"}, {"code", "noTester"}, {"text", "No \"tester\"\t\x01"}}},
      {ProgressEvent{120, 3000, 5}, {{"event", "progress"}}},
      {DeviceEvent{"Zentrika QUARN \xEF\xBF\xBD", std::nullopt, "/dev/ttyACM0", true},
       {{"event", "device"},
        {"description", "Zentrika QUARN \xEF\xBF\xBD"},
        {"friendlyName", "null"},
        {"port", "/dev/ttyACM0"}}},
      {PackageEvent{"/fw", true, 3000, 3000, 0xB9FF87F3, true, metadata},
       {{"event", "package"}, {"directory", "/fw"}}},
      {ResultEvent{"programmingComplete", 0, {}},
       {{"event", "result"}, {"code", "programmingComplete"}}},
  };
  for (const auto& row : rows) {
    const std::string line = jsonLineOf(row.event);
    ASSERT_FALSE(line.empty());
    EXPECT_EQ(line.find('\n'), line.size() - 1) << line;  // newlines inside texts are escaped
    const ParsedJson json(line);
    ASSERT_NE(json.root, nullptr) << line;
    for (const auto& [member, value] : row.texts) EXPECT_EQ(json.text(member), value) << line;
  }
}

TEST(JsonFace, NumbersKeepTheirValues) {
  const ParsedJson progress(jsonLineOf(ProgressEvent{120, 3000, 5}));
  EXPECT_EQ(progress.number("bytes"), 120);
  EXPECT_EQ(progress.number("total"), 3000);
  const ParsedJson result(jsonLineOf(ResultEvent{"startRefused", 15, {}}));
  EXPECT_EQ(result.number("exit"), 15);
  EXPECT_EQ(cJSON_GetObjectItem(result.root, "text"), nullptr);  // no summary, no member

  FirmwareMetadata m;
  m.packageSize = 3000;
  m.packageCrc = 0x0000ABCD;
  m.h7Version = 3.8f;  // shown as written, not as the float's long decimal
  m.g0Version = 2.0f;
  const ParsedJson package(jsonLineOf(PackageEvent{"/fw", true, 3000, 2999, 0xB9FF87F3, true, m}));
  EXPECT_EQ(package.number("image", "bytesRead"), 2999);
  EXPECT_EQ(package.text("image", "crc32"), "b9ff87f3");
  EXPECT_EQ(package.number("metadata", "QUARN", "size"), 3000);
  EXPECT_EQ(package.number("metadata", "H7", "version"), 3.8);
  EXPECT_EQ(package.number("metadata", "G0", "version"), 2.0);

  const ParsedJson missing(jsonLineOf(PackageEvent{"/fw", false, 0, 0, 0, false, {}}));
  EXPECT_EQ(missing.text("image"), "null");
  EXPECT_EQ(missing.text("metadata"), "null");
}

TEST(HumanFace, TerminalShowsTheBarThenWaitsForTheVerdict) {
  CapturedStream out(true);
  CapturedStream err;
  HumanFace face(out, err, "quarn-update");
  face.render(ProgressEvent{0, 120, 1000});
  face.render(ProgressEvent{60, 120, 1100});
  EXPECT_EQ(out.text.find('\n'), std::string::npos);  // redrawn in place
  face.render(ProgressEvent{120, 120, 1200});
  const size_t barEnd = out.text.rfind('\n');
  ASSERT_NE(barEnd, std::string::npos);
  EXPECT_NE(out.text.rfind("120/120 bytes 100%", barEnd), std::string::npos);
  EXPECT_EQ(out.text.substr(barEnd + 1), "\r" + std::string(awaitingVerdictText));

  face.render(LineEvent{ReportCode::programmingComplete, u"Programming complete.\n"});
  const std::string erased = "\r" + std::string(awaitingVerdictText.size(), ' ') + "\r";
  EXPECT_TRUE(out.text.ends_with(erased + "Programming complete.\n")) << out.text;
}

// Issue 16, item 1: a long reply wait says so on a terminal, and nowhere else.
TEST(HumanFace, ALongWaitSaysSoOnATerminal) {
  CapturedStream out(true);
  CapturedStream err;
  HumanFace face(out, err, "quarn-update");
  face.render(LineEvent{ReportCode::burningInProgress, u"Burning in Progress.\n Do not unplug.\n"});
  face.render(WaitingEvent{true});
  EXPECT_TRUE(out.text.ends_with("\r" + std::string(waitingForTesterText))) << out.text;
  face.render(WaitingEvent{false});
  const std::string erased = "\r" + std::string(waitingForTesterText.size(), ' ') + "\r";
  EXPECT_TRUE(out.text.ends_with(erased)) << out.text;
  // Beside the bar while blocks go out; the bar alone again afterwards.
  face.render(ProgressEvent{0, 120, 1000});
  face.render(ProgressEvent{60, 120, 1100});
  face.render(WaitingEvent{true});
  EXPECT_NE(out.text.rfind("60/120 bytes"), std::string::npos);
  EXPECT_TRUE(out.text.ends_with(std::string(waitingForTesterText))) << out.text;
  face.render(WaitingEvent{false});
  EXPECT_EQ(out.text.find('\n', out.text.find("60/120")), std::string::npos);

  CapturedStream pipe(false);
  HumanFace plain(pipe, err, "quarn-update");
  plain.render(WaitingEvent{true});
  plain.render(WaitingEvent{false});
  EXPECT_EQ(pipe.text, "");
  EXPECT_EQ(jsonLineOf(WaitingEvent{true}), "");
}

TEST(CliReporter, QuietHidesTheWaitingNote) {
  fakes::RecordingFace face;
  fakes::TestMutex mutex;
  fakes::EventLog log;
  fakes::FakeClock clock(log);
  CliReporter quiet(face, mutex, clock, true);
  quiet.reportSlowReply(true);
  EXPECT_TRUE(face.events.empty());
  CliReporter loud(face, mutex, clock, false);
  loud.reportSlowReply(true);
  EXPECT_EQ(face.all<WaitingEvent>().size(), 1u);
}

TEST(HumanFace, NoProgressOutsideATerminal) {
  CapturedStream out(false);
  CapturedStream err;
  HumanFace face(out, err, "quarn-update");
  face.render(ProgressEvent{0, 120, 1000});
  face.render(ProgressEvent{120, 120, 1200});
  face.render(
      ErrorEvent{"blockNoReply", "2 Failed to program firmware.", ErrorEvent::Source::session});
  face.render(ErrorEvent{"usage", "unknown option '-x'"});
  EXPECT_EQ(out.text, "");
  EXPECT_EQ(err.text,
            "Quarn Updater: Error: 2 Failed to program firmware.\n"
            "quarn-update: unknown option '-x'\n");
}

TEST(CliReporter, QuietKeepsOnlyErrorsVerdictsAndTheResult) {
  fakes::RecordingFace face;
  fakes::TestMutex mutex;
  fakes::EventLog log;
  fakes::FakeClock clock(log);
  CliReporter reporter(face, mutex, clock, true);
  reporter.appendStatusLine(ReportCode::deviceFound, u"Zentrika QUARN found\n");
  reporter.appendStatusLine(ReportCode::burningInProgress, messages::burningInProgress);
  reporter.reportTransferProgress(0, 60);
  reporter.reportTransferProgress(60, 60);
  reporter.appendStatusLine(ReportCode::failedToOpen, u"Failed to open /dev/ttyACM0\n");
  reporter.showErrorBox(ReportCode::deviceIdFailed, messages::deviceIdFailed);
  reporter.appendStatusLine(ReportCode::programmingComplete, messages::programmingComplete);
  reporter.device(DeviceEvent{});
  EXPECT_TRUE(reporter.finish(ResultEvent{"programmingComplete", 0, {}}));

  ASSERT_EQ(face.events.size(), 4u);
  EXPECT_EQ(face.all<LineEvent>().size(), 2u);  // failedToOpen, programmingComplete
  EXPECT_EQ(face.all<ErrorEvent>().size(), 1u);
  EXPECT_EQ(face.all<ResultEvent>().size(), 1u);
  EXPECT_EQ(reporter.lastReport(), ReportCode::programmingComplete);
  EXPECT_TRUE(reporter.programmingStarted());  // seen even though not shown
}

TEST(ProgressThrottle, AdmitsTenASecondPlusTheFirstAndTheLast) {
  const struct {
    uint64_t at;
    uint32_t bytes;
    bool admitted;
  } steps[] = {
      {1000, 0, true},     // the first
      {1010, 60, false},   // 10 ms later
      {1099, 120, false},  // 99 ms after the last admitted
      {1100, 180, true},   // 100 ms
      {1150, 240, false},  //
      {1160, 600, true},   // the last always passes
  };
  ProgressThrottle throttle;
  for (const auto& step : steps) {
    EXPECT_EQ(throttle.admit(step.at, step.bytes, 600), step.admitted) << step.at;
  }
}

// Through the reporter, as a fast transfer gives them: 1,000 blocks acknowledged within one
// simulated second make at most 11 progress events, the last of them the whole image.
TEST(CliReporter, ThrottlesProgressForEveryFace) {
  fakes::RecordingFace face;
  fakes::TestMutex mutex;
  fakes::EventLog log;
  fakes::FakeClock clock(log);
  CliReporter reporter(face, mutex, clock, false);
  const uint32_t total = 60000;
  for (uint32_t bytes = 0; bytes <= total; bytes += 60) {
    reporter.reportTransferProgress(bytes, total);
    clock.advance(1);
  }
  const std::vector<ProgressEvent> shown = face.all<ProgressEvent>();
  EXPECT_LE(shown.size(), 11u);
  EXPECT_GE(shown.size(), 10u);
  EXPECT_EQ(shown.front().bytes, 0u);
  EXPECT_EQ(shown.back().bytes, total);
}

}  // namespace
}  // namespace quarn::cli
