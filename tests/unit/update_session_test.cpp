// One table over every way a session ends: its one report, what is closed and when, PROGRAM
// enabled again, the buffers empty and the device list released.
#include <gtest/gtest.h>

#include <cstdio>
#include <functional>
#include <string>

#include "fakes/fake_platform.hpp"
#include "package/crc32.hpp"
#include "package/package_buffers.hpp"
#include "session/update_worker.hpp"

#if defined(__SANITIZE_ADDRESS__)
#include <sanitizer/lsan_interface.h>
// The allocator's own count of bytes in use; this compiler ships no header that declares it.
extern "C" size_t __sanitizer_get_current_allocated_bytes();
#endif

namespace quarn {
namespace {

using fakes::Reply;

struct World : fakes::FakePlatform {
  std::vector<uint8_t> image;

  // One tester on COM7 and a good 130-byte package whose versions agree.
  World() {
    devices.devices.push_back({u"Zentrika QUARN", u"USB Serial Device (COM7)"});
    for (int i = 0; i < 130; ++i) image.push_back(static_cast<uint8_t>(i * 7 + 3));
    files.put(u"QUARN.bin", image);
    setMetadata(metadataFor(image.size(), crcOf(image)));
  }

  static uint32_t crcOf(const std::vector<uint8_t>& bytes) {
    buildCrc32Table();
    return computeCrc32(bytes.data(), bytes.size());
  }
  static std::string metadataFor(size_t size, uint32_t crc, const char* g0Version = "1.5") {
    char text[400];
    std::snprintf(text, sizeof text,
                  R"({"QUARN":{"size":%zu,"crc32":"%08x"},"encryption":{"status":0},)"
                  R"("H7":{"size":1,"crc32":"1","version":1.5},)"
                  R"("G0":{"size":2,"crc32":"2","version":%s}})",
                  size, crc, g0Version);
    return text;
  }
  void setMetadata(const std::string& text) {
    files.put(u"metadata.json", std::vector<uint8_t>(text.begin(), text.end()));
  }

  // The tester's answers, from the bootloader request to the completion reply.
  void scriptTester(std::vector<uint8_t> completion = {0xFC, 0xFF}) {
    tester.replies.push_back(fakes::silence());  // the bootloader request gets no reply
    tester.replies.push_back({{0xFD, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 0xFF}, {}});
    tester.replies.push_back({{0xFE, 0xFF}, {}});
    tester.replies.push_back({{0x00, 0x00, 0x00}, {}});
    const size_t blocks = (image.size() + 59) / 60;
    for (size_t b = 0; b < blocks; ++b) {
      Reply ack{{0x00, static_cast<uint8_t>(b), static_cast<uint8_t>(b >> 8)}, {}};
      if (b + 1 == blocks) ack.afterRead = completion;
      tester.replies.push_back(ack);
    }
  }
  void scriptUpTo(size_t replies) {
    scriptTester();
    tester.replies.resize(replies);
  }
};

struct ExitRow {
  const char* name;
  std::function<void(World&)> arrange;
  std::vector<std::string> reports;  // the session's lines and boxes, in order
  int portOpenings;                  // successful openings of the port
};

void PrintTo(const ExitRow& row, std::ostream* out) {
  *out << row.name;
}

const std::string kFound = "line:Zentrika QUARN found\n";
const std::string kBurning = "line:Burning in Progress.\n Do not unplug.\n";
const std::string kOpenFailed = "line:Failed to open \\\\.\\COM7\n";

std::vector<ExitRow> exitRows() {
  return {
      {"NoDeviceList", [](World& w) { w.devices.listAvailable = false; }, {}, 0},
      {"NoTester",
       [](World& w) {
         w.devices.devices = {{u"Some other port", u"Other (COM3)"}};
       },
       {"box:No Zentrika Quarn device detected.\nYou may need to plug in (or install) USB "
        "devices.\n"},
       0},
      {"TwoTesters",
       [](World& w) {
         w.devices.devices.push_back({u"Zentrika QUARN", u"Second (COM8)"});
       },
       {kFound, kFound,
        "box:This application only supports 1 connected Quarn device.\nYou need to remove USB "
        "devices.\n"},
       0},
      {"PortNotOpened", [](World& w) { w.tester.openResults = {false}; }, {kFound, kOpenFailed}, 0},
      {"FirmwareFileMissing",
       [](World& w) { w.files.files.erase(u"C:\\Quarn\\QUARN.bin"); },
       {kFound, "box:Failed to find firmware file."},
       1},
      {"MetadataFileMissing",
       [](World& w) { w.files.files.erase(u"C:\\Quarn\\metadata.json"); },
       {kFound, "box:Failed to find metadata file."},
       1},
      {"MetadataNotJson",
       [](World& w) { w.setMetadata("not json"); },
       {kFound, "box:Failed to extract metadata file."},
       1},
      {"SizeMismatch",
       [](World& w) { w.setMetadata(World::metadataFor(131, World::crcOf(w.image))); },
       {kFound, "box:Failed to validate firmware (fw_size mismatch)"},
       1},
      {"CrcMismatch",
       [](World& w) { w.setMetadata(World::metadataFor(130, World::crcOf(w.image) ^ 1)); },
       {kFound, "box:Failed to validate firmware (crc32 mismatch)"},
       1},
      {"VersionMismatch",
       [](World& w) { w.setMetadata(World::metadataFor(130, World::crcOf(w.image), "1.6")); },
       {kFound, "box:Failed to validate firmware (version mismatch)"},
       1},
      {"ReopenFails",
       [](World& w) {
         w.tester.openResults = {true, false};
       },
       {kFound, kBurning, kOpenFailed},
       1},
      {"NoDeviceId",
       [](World& w) { w.scriptUpTo(1); },
       {kFound, kBurning, "box:Failed to retrieve Device ID."},
       2},
      {"SignatureRejected",
       [](World& w) {
         w.scriptUpTo(3);
         w.tester.replies[2] = {{0x00, 0xFF}, {}};
       },
       {kFound, kBurning, "box:App Signiture Mismatch."},
       2},
      {"NoSignatureVerdict",
       [](World& w) { w.scriptUpTo(2); },
       {kFound, kBurning, "box:App Signiture Failed."},
       2},
      {"StartRefused",
       [](World& w) {
         w.scriptUpTo(4);
         w.tester.replies[3] = {{0x00, 0x01, 0x00}, {}};
       },
       {kFound, kBurning, "box:Please unplug and reconnect the tester and try again."},
       2},
      {"NoStartReply",
       [](World& w) { w.scriptUpTo(3); },
       {kFound, kBurning, "box:Failed to program firmware."},
       2},
      {"BlockWrongNumber",
       [](World& w) {
         w.scriptUpTo(4);
         for (int i = 0; i < 4; ++i) w.tester.replies.push_back({{0x00, 0x01, 0x00}, {}});
       },
       {kFound, kBurning, "box:1 Failed to program firmware."},
       2},
      {"BlockNoReply",
       [](World& w) { w.scriptUpTo(5); },
       {kFound, kBurning, "box:2 Failed to program firmware."},
       2},
      {"Complete",
       [](World& w) { w.scriptTester(); },
       {kFound, kBurning, "line:Programming complete.\n"},
       2},
      {"G0UpdateFailed",
       [](World& w) {
         w.scriptTester({0x00, 0xFF});
       },
       {kFound, kBurning, "line:G0 FW update failed.\n"},
       2},
      {"ImageCrcFailed",
       [](World& w) {
         w.scriptTester({0x01, 0xFF});
       },
       {kFound, kBurning, "line:FW crc32 check failed.\n"},
       2},
      {"NoCompletionReply", [](World& w) { w.scriptTester({}); }, {kFound, kBurning}, 2},
      {"MalformedCompletionReply",
       [](World& w) {
         w.scriptTester({0xFC, 0x00});
       },
       {kFound, kBurning},
       2},
  };
}

// The session's lines and boxes, in the order they were made.
std::vector<std::string> reportsOf(const World& world) {
  std::vector<std::string> reports;
  for (const std::string& e : world.log.events)
    if (e.rfind("line:", 0) == 0 || e.rfind("box:", 0) == 0) reports.push_back(e);
  return reports;
}

class SessionExits : public ::testing::TestWithParam<ExitRow> {};

TEST_P(SessionExits, MakeTheirOneReportAndLeaveThroughTheCommonEnd) {
  const ExitRow& row = GetParam();
  World world;
  row.arrange(world);

  updateWorker(world.platform);

  const std::vector<std::string> reports = reportsOf(world);
  EXPECT_EQ(reports, row.reports);
  EXPECT_EQ(world.log.count("open:"), row.portOpenings);

  // Nothing stays open or held, and PROGRAM is usable again.
  EXPECT_EQ(world.tester.openPorts, 0);
  EXPECT_EQ(world.devices.openLists, 0);
  EXPECT_EQ(world.files.openFiles, 0);
  EXPECT_FALSE(imageBuffer.held());
  EXPECT_FALSE(metadataBuffer.held());
  EXPECT_TRUE(world.outlets.programEnabled);
  ASSERT_FALSE(world.log.events.empty());
  EXPECT_EQ(world.log.events.front(), "program:off");

  // Reports come before clean-up: a box is answered before the port closes, and PROGRAM is
  // enabled before the device list is released.
  const long lastReport = reports.empty() ? -1 : world.log.indexOf(reports.back());
  if (row.portOpenings > 0 && !reports.empty() && reports.back().rfind("box:", 0) == 0) {
    long lastClose = -1;
    for (size_t i = 0; i < world.log.events.size(); ++i)
      if (world.log.events[i] == "close") lastClose = static_cast<long>(i);
    EXPECT_LT(lastReport, lastClose);
  }
  const long enabled = world.log.indexOf("program:on");
  EXPECT_GT(enabled, lastReport);
  if (world.devices.listAvailable) {
    EXPECT_LT(enabled, world.log.indexOf("devices-released"));
  }
}

INSTANTIATE_TEST_SUITE_P(AllExits, SessionExits, ::testing::ValuesIn(exitRows()),
                         [](const auto& testInfo) { return std::string(testInfo.param.name); });

// Ten thousand sessions of each kind in one process. Each releases everything it took, so the heap
// holds exactly as much after the last as after the hundredth (the first ones may still fill a
// library's caches), every session makes the row's reports, and LeakSanitizer finds nothing.
class SessionSoak : public ::testing::TestWithParam<ExitRow> {};

TEST_P(SessionSoak, TenThousandSessionsLeaveTheHeapAsTheyFoundIt) {
#if !defined(__SANITIZE_ADDRESS__)
  GTEST_SKIP() << "needs AddressSanitizer's allocator figures (the native preset)";
#else
  constexpr int warmUpSessions = 100;
  constexpr int totalSessions = 10000;
  const ExitRow& row = GetParam();
  int sessionsReportingOtherwise = 0;
  auto runSessions = [&](int count) {
    for (int i = 0; i < count; ++i) {
      World world;
      row.arrange(world);
      updateWorker(world.platform);
      if (reportsOf(world) != row.reports) ++sessionsReportingOtherwise;
    }
  };
  runSessions(warmUpSessions);
  const size_t afterWarmUp = __sanitizer_get_current_allocated_bytes();
  runSessions(totalSessions - warmUpSessions);
  const size_t afterAll = __sanitizer_get_current_allocated_bytes();
  std::printf("%s: %zu bytes in use after session %d, %zu after session %d\n", row.name,
              afterWarmUp, warmUpSessions, afterAll, totalSessions);
  EXPECT_EQ(afterAll, afterWarmUp)
      << "bytes in use after session " << warmUpSessions << " and " << totalSessions;
  EXPECT_EQ(sessionsReportingOtherwise, 0);
  EXPECT_EQ(__lsan_do_recoverable_leak_check(), 0);
#endif
}

INSTANTIATE_TEST_SUITE_P(AllExits, SessionSoak, ::testing::ValuesIn(exitRows()),
                         [](const auto& testInfo) { return std::string(testInfo.param.name); });

TEST(Session, FirmwareMissingNeverOpensTheMetadata) {
  World world;
  world.files.files.erase(u"C:\\Quarn\\QUARN.bin");
  updateWorker(world.platform);
  EXPECT_EQ(world.log.count("open-file"), 1);
}

TEST(Session, FailedPortConfigurationIsReportedAndTheSessionGoesOn) {
  World world;
  world.tester.failStateRead = true;
  world.files.files.erase(u"C:\\Quarn\\QUARN.bin");
  updateWorker(world.platform);
  EXPECT_EQ(world.outlets.lines,
            (std::vector<std::string>{"Zentrika QUARN found\n", "Error getting COM port state\n"}));
  EXPECT_EQ(world.outlets.boxes, std::vector<std::string>{"Failed to find firmware file."});
}

TEST(Session, SecondSessionStartsFromNothing) {
  World world;
  world.scriptTester();
  updateWorker(world.platform);
  world.devices.devices.push_back({u"Zentrika QUARN", u"Second (COM8)"});
  updateWorker(world.platform);
  EXPECT_EQ(world.outlets.lines.back(), "Zentrika QUARN found\n");
  EXPECT_EQ(world.outlets.boxes.size(), 1u);  // the second session counted 2, not 3
}

}  // namespace
}  // namespace quarn
