// quarn-update's whole run against faked seams: --list with the USB identity, --serial and
// --location picking one tester among several, the candidates when no tester or several match,
// the tester event and the record that the result line carries.
#include <gtest/gtest.h>

#include "cJSON.h"
#include "cli/command_line.hpp"
#include "cli/number_text.hpp"
#include "fakes/console_capture.hpp"
#include "fakes/fake_devices.hpp"
#include "fakes/memory_package_files.hpp"
#include "fakes/scripted_port.hpp"
#include "package/crc32.hpp"

namespace quarn::cli {
namespace {

class FakeCliPlatform : public CliPlatform {
 public:
  FakeCliPlatform() {
    for (int i = 0; i < 130; ++i) image.push_back(static_cast<uint8_t>(i * 7 + 3));
    buildCrc32Table();
    char metadata[300];
    std::snprintf(metadata, sizeof metadata,
                  R"({"QUARN":{"size":%zu,"crc32":"%08x"},"encryption":{"status":0},)"
                  R"("H7":{"size":1,"crc32":"1","version":3.8},)"
                  R"("G0":{"size":2,"crc32":"2","version":3.8}})",
                  image.size(), computeCrc32(image.data(), image.size()));
    files.put(u"QUARN.bin", image);
    const std::string text(metadata);
    files.put(u"metadata.json", std::vector<uint8_t>(text.begin(), text.end()));
  }

  OutputStream& out() override { return outStream; }
  OutputStream& err() override { return errStream; }
  std::unique_ptr<CliMutex> makeMutex() override { return std::make_unique<fakes::TestMutex>(); }
  Clock& clock() override { return fakeClock; }
  DeviceCatalog& presentDevices() override { return devices; }
  WideText devicePathPrefix() const override { return u"\\\\.\\"; }
  PortOpener& ports() override { return opener; }
  PackageFileSystem& packageFiles() override { return files; }
  WideText currentDirectory() override { return u"C:\\Quarn"; }
  void wakeSessionThread() override {}
  const HelpFlavour& helpFlavour() const override { return flavour; }
  int64_t wallClockMilliseconds() override { return 1'796'997'909'042; }  // 2026-12-11T14:05:09
  std::optional<std::string> hostName() override { return "bench-1"; }

  // A tester that answers the whole update, its device ID 01 02 ... 0c on the wire.
  void scriptTester() {
    tester.replies.push_back(fakes::silence());
    tester.replies.push_back({{0xFD, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 0xFF}, {}});
    tester.replies.push_back({{0xFE, 0xFF}, {}});
    tester.replies.push_back({{0x00, 0x00, 0x00}, {}});
    const size_t blocks = (image.size() + 59) / 60;
    for (size_t b = 0; b < blocks; ++b) {
      fakes::Reply ack{{0x00, static_cast<uint8_t>(b), 0x00}, {}};
      if (b + 1 == blocks) ack.afterRead = {0xFC, 0xFF};
      tester.replies.push_back(ack);
    }
  }

  int run(std::vector<std::string> arguments) {
    CommandLine commandLine(*this, arguments);
    return commandLine.run();
  }
  std::vector<std::string> jsonLines() const {
    std::vector<std::string> lines;
    size_t start = 0;
    for (size_t end; (end = outStream.text.find('\n', start)) != std::string::npos;
         start = end + 1) {
      lines.push_back(outStream.text.substr(start, end - start));
    }
    return lines;
  }

  std::vector<uint8_t> image;
  fakes::EventLog log;
  fakes::FakeClock fakeClock{log};
  fakes::FakeDeviceCatalog devices{log};
  fakes::ScriptedTester tester;
  fakes::ScriptedPortOpener opener{tester, fakeClock, log};
  fakes::MemoryPackageFiles files{log};
  fakes::CapturedStream outStream;
  fakes::CapturedStream errStream;
  HelpFlavour flavour{"quarn-update", "", "", ""};
};

UsbIdentity usb(std::optional<std::string> serial, std::optional<std::string> location) {
  return UsbIdentity{0x1209, 0x5151, std::move(serial), std::move(location)};
}

// Three testers (one with a lower-case serial number, as Linux reports it as it is), a USB
// adapter that is no tester, and a port the bus tells nothing of.
void addBench(fakes::FakeDeviceCatalog& devices) {
  devices.devices = {
      {u"Zentrika QUARN", u"USB Serial Device (COM7)", true, usb("QRN-0001", "1-1.1")},
      {u"Zentrika QUARN", u"USB Serial Device (COM8)", true, usb("qrn-0002", "1-1.2")},
      {u"Zentrika QUARN", u"USB Serial Device (COM9)", true, usb(std::nullopt, "1-1.3")},
      {u"FT232R USB UART", u"USB Serial Port (COM4)", true,
       UsbIdentity{0x0403, 0x6001, "A9XYZ", "1-2"}},
      {std::nullopt, u"Communications Port (COM1)", true, {}},
  };
}

struct Json {
  explicit Json(const std::string& line) : root(cJSON_Parse(line.c_str())) {}
  ~Json() { cJSON_Delete(root); }
  Json(const Json&) = delete;
  Json& operator=(const Json&) = delete;
  const cJSON* item(const char* name) const { return cJSON_GetObjectItemCaseSensitive(root, name); }
  std::string text(const char* name) const {
    const cJSON* i = item(name);
    return cJSON_IsString(i) ? i->valuestring : cJSON_IsNull(i) ? "null" : "?";
  }
  double number(const char* name) const {
    const cJSON* i = item(name);
    return cJSON_IsNumber(i) ? i->valuedouble : -1;
  }
  cJSON* root;
};

TEST(CliList, ShowsEachDevicesUsbIdentityAndNullWhereItIsUnknown) {
  FakeCliPlatform platform;
  addBench(platform.devices);
  EXPECT_EQ(platform.run({"--list", "--json"}), 4);
  const std::vector<std::string> lines = platform.jsonLines();
  ASSERT_EQ(lines.size(), 6u);
  const struct {
    const char* port;
    const char* vid;
    const char* pid;
    const char* serial;
    const char* location;
    bool tester;
  } rows[] = {
      {"COM7", "1209", "5151", "QRN-0001", "1-1.1", true},
      {"COM8", "1209", "5151", "qrn-0002", "1-1.2", true},
      {"COM9", "1209", "5151", "null", "1-1.3", true},
      {"COM4", "0403", "6001", "A9XYZ", "1-2", false},
      {"COM1", "null", "null", "null", "null", false},
  };
  for (size_t i = 0; i < std::size(rows); ++i) {
    const Json device(lines[i]);
    ASSERT_NE(device.root, nullptr) << lines[i];
    EXPECT_EQ(device.text("event"), "device");
    EXPECT_EQ(device.text("port"), rows[i].port);
    EXPECT_EQ(device.text("vid"), rows[i].vid) << lines[i];
    EXPECT_EQ(device.text("pid"), rows[i].pid) << lines[i];
    EXPECT_EQ(device.text("serial"), rows[i].serial) << lines[i];
    EXPECT_EQ(device.text("location"), rows[i].location) << lines[i];
    EXPECT_EQ(cJSON_IsTrue(device.item("tester")), rows[i].tester) << lines[i];
  }
  EXPECT_EQ(Json(lines[5]).text("code"), "tooManyTesters");
}

TEST(CliList, TextRowsNameEachColumn) {
  FakeCliPlatform platform;
  addBench(platform.devices);
  platform.devices.devices.resize(2);
  EXPECT_EQ(platform.run({"--list"}), 4);
  EXPECT_EQ(platform.outStream.text,
            "        port            vid:pid    serial        location    description\n"
            "tester  COM7            1209:5151  QRN-0001      1-1.1       Zentrika QUARN\n"
            "tester  COM8            1209:5151  qrn-0002      1-1.2       Zentrika QUARN\n"
            "2 testers: an update needs exactly one (pick it with --serial, --location or "
            "--port).\n");
}

struct PickRow {
  const char* name;
  std::vector<std::string> arguments;
  int exit;
  const char* opened;               // the port opened, or nullptr for none
  std::vector<const char*> listed;  // ports of the candidates the error lists
};

TEST(CliPick, OpensOnlyThePickedTesterOrListsTheCandidates) {
  const PickRow rows[] = {
      {"serial, other case", {"--serial", "QRN-0002"}, 0, "\\\\.\\COM8", {}},
      {"serial as listed", {"--serial=qrn-0001"}, 0, "\\\\.\\COM7", {}},
      {"location", {"--location", "1-1.3"}, 0, "\\\\.\\COM9", {}},
      {"both match", {"--serial", "QRN-0001", "--location", "1-1.1"}, 0, "\\\\.\\COM7", {}},
      {"both, different testers",
       {"--serial", "QRN-0001", "--location", "1-1.2"},
       3,
       nullptr,
       {"COM7", "COM8", "COM9"}},
      {"no such serial", {"--serial", "QRN-0009"}, 3, nullptr, {"COM7", "COM8", "COM9"}},
      {"location is not a prefix", {"--location", "1-1"}, 3, nullptr, {"COM7", "COM8", "COM9"}},
      // The adapter's serial number picks nothing: only testers are picked.
      {"serial of a non-tester", {"--serial", "A9XYZ"}, 3, nullptr, {"COM7", "COM8", "COM9"}},
      {"several, no pick", {}, 4, nullptr, {"COM7", "COM8", "COM9"}},
  };
  for (const PickRow& row : rows) {
    FakeCliPlatform platform;
    addBench(platform.devices);
    platform.scriptTester();
    std::vector<std::string> arguments = row.arguments;
    arguments.push_back("--json");
    EXPECT_EQ(platform.run(arguments), row.exit) << row.name;
    const long opens = platform.log.count("open:");
    if (row.opened) {
      EXPECT_EQ(opens, 2) << row.name;  // before and after the restart, the same path
      EXPECT_TRUE(platform.log.contains(std::string("open:") + row.opened)) << row.name;
    } else {
      EXPECT_EQ(opens, 0) << row.name;
    }
    std::vector<std::string> listed;
    for (const std::string& line : platform.jsonLines()) {
      const Json json(line);
      ASSERT_NE(json.root, nullptr) << line;
      const cJSON* testers = json.item("testers");
      for (const cJSON* t = testers ? testers->child : nullptr; t; t = t->next) {
        listed.push_back(cJSON_GetObjectItemCaseSensitive(t, "port")->valuestring);
      }
    }
    EXPECT_EQ(listed, std::vector<std::string>(row.listed.begin(), row.listed.end())) << row.name;
  }
}

// Two testers that report the same serial number: the pick is ambiguous and nothing is opened.
TEST(CliPick, ASerialThatTwoTestersShareIsRefused) {
  FakeCliPlatform platform;
  addBench(platform.devices);
  platform.devices.devices[1].usb.serialNumber = "QRN-0001";
  EXPECT_EQ(platform.run({"--serial", "qrn-0001"}), 4);
  EXPECT_EQ(platform.log.count("open:"), 0);
  EXPECT_NE(platform.errStream.text.find(
                "quarn-update: 2 testers have serial number qrn-0001; pick one with --serial, "
                "--location or --port:\n"
                "  tester  COM7  "),
            std::string::npos)
      << platform.errStream.text;
  EXPECT_NE(platform.errStream.text.find("  tester  COM8  "), std::string::npos);
}

// Discovery's "found" line names only the picked tester.
TEST(CliPick, TheFoundLineNamesOnlyThePickedTester) {
  FakeCliPlatform platform;
  addBench(platform.devices);
  platform.devices.devices[1].description = u"Zentrika QUARN (second)";
  platform.scriptTester();
  EXPECT_EQ(platform.run({"--location", "1-1.2"}), 0);
  const std::string& out = platform.outStream.text;
  EXPECT_EQ(out.find("Zentrika QUARN found"), std::string::npos) << out;
  EXPECT_NE(out.find("Zentrika QUARN (second) found\n"), std::string::npos) << out;
}

TEST(CliRecord, TheTesterEventAndTheResultNameTheUnitAndItsFirmware) {
  FakeCliPlatform platform;
  addBench(platform.devices);
  platform.scriptTester();
  EXPECT_EQ(platform.run({"--serial", "qrn-0002", "--json"}), 0);
  const std::vector<std::string> lines = platform.jsonLines();
  std::optional<size_t> testerLine;
  for (size_t i = 0; i < lines.size(); ++i) {
    if (Json(lines[i]).text("event") == "tester") testerLine = i;
  }
  ASSERT_TRUE(testerLine);
  const Json tester(lines[*testerLine]);
  EXPECT_EQ(tester.text("deviceId"), "0102030405060708090a0b0c");
  EXPECT_EQ(tester.text("port"), "COM8");
  EXPECT_EQ(tester.text("serial"), "qrn-0002");
  EXPECT_EQ(tester.text("location"), "1-1.2");
  // After "Burning in Progress." and before any block went out.
  std::optional<size_t> burning;
  std::optional<size_t> firstProgress;
  for (size_t i = 0; i < lines.size(); ++i) {
    const Json json(lines[i]);
    if (json.text("code") == "burningInProgress") burning = i;
    if (json.text("event") == "progress" && !firstProgress) firstProgress = i;
  }
  ASSERT_TRUE(burning && firstProgress);
  EXPECT_LT(*burning, *testerLine);
  EXPECT_LT(*testerLine, *firstProgress);

  const Json result(lines.back());
  EXPECT_EQ(result.text("event"), "result");
  EXPECT_EQ(result.text("code"), "programmingComplete");
  EXPECT_EQ(result.text("deviceId"), "0102030405060708090a0b0c");
  EXPECT_EQ(result.number("size"), 130);
  EXPECT_EQ(result.text("crc32").size(), 8u);
  EXPECT_EQ(result.number("h7Version"), 3.8);
  EXPECT_EQ(result.number("g0Version"), 3.8);
  EXPECT_EQ(result.text("port"), "COM8");
  EXPECT_EQ(result.text("serial"), "qrn-0002");
  EXPECT_EQ(result.text("location"), "1-1.2");
  EXPECT_GE(result.number("durationMs"), 3000);  // the restart's pause, on the fake clock
  EXPECT_EQ(result.text("time"), "2026-12-11T14:05:09.042Z");
  EXPECT_EQ(result.text("host"), "bench-1");
}

// A session that never read the device ID, and one that never accepted the package, say so.
TEST(CliRecord, ValuesNeverLearntAreNull) {
  FakeCliPlatform silent;
  addBench(silent.devices);
  EXPECT_EQ(silent.run({"--location", "1-1.1", "--json"}), 12);  // the tester never answers
  const Json noId(silent.jsonLines().back());
  EXPECT_EQ(noId.text("deviceId"), "null");
  EXPECT_EQ(noId.number("size"), 130);
  EXPECT_EQ(noId.text("serial"), "QRN-0001");

  FakeCliPlatform noPackage;
  addBench(noPackage.devices);
  noPackage.files.files.clear();
  EXPECT_EQ(noPackage.run({"--location", "1-1.3", "--json"}), 6);
  const Json missing(noPackage.jsonLines().back());
  for (const char* name : {"deviceId", "size", "crc32", "h7Version", "g0Version", "serial"}) {
    EXPECT_EQ(missing.text(name), "null") << name;
  }
  EXPECT_EQ(missing.text("port"), "COM9");
  EXPECT_EQ(missing.text("location"), "1-1.3");

  // --port: the record takes the identity the list has for that port.
  FakeCliPlatform named;
  addBench(named.devices);
  named.scriptTester();
  EXPECT_EQ(named.run({"--port", "\\\\.\\COM7", "--json"}), 0);
  const Json byPort(named.jsonLines().back());
  EXPECT_EQ(byPort.text("port"), "COM7");
  EXPECT_EQ(byPort.text("serial"), "QRN-0001");
}

TEST(CliRecord, TheTextFaceShowsTheDeviceIdUnlessQuiet) {
  FakeCliPlatform loud;
  addBench(loud.devices);
  loud.scriptTester();
  EXPECT_EQ(loud.run({"--location", "1-1.1"}), 0);
  EXPECT_NE(loud.outStream.text.find("Burning in Progress.\n Do not unplug.\n"
                                     "tester 0102030405060708090a0b0c\n"),
            std::string::npos)
      << loud.outStream.text;

  FakeCliPlatform quiet;
  addBench(quiet.devices);
  quiet.scriptTester();
  EXPECT_EQ(quiet.run({"--location", "1-1.1", "--quiet"}), 0);
  EXPECT_EQ(quiet.outStream.text, "Programming complete.\n");
}

}  // namespace
}  // namespace quarn::cli

namespace quarn::cli {
namespace {

TEST(UtcIsoTime, WritesTheCivilDateOfEveryDay) {
  const std::pair<int64_t, const char*> rows[] = {
      {0, "1970-01-01T00:00:00.000Z"},
      {951'782'400'000, "2000-02-29T00:00:00.000Z"},
      {1'709'164'800'123, "2024-02-29T00:00:00.123Z"},
      {4'102'444'799'999, "2099-12-31T23:59:59.999Z"},
      {-1, "1969-12-31T23:59:59.999Z"},
  };
  for (const auto& [ms, text] : rows) EXPECT_EQ(utcIsoTime(ms), text) << ms;
}

TEST(DeviceIdText, WritesTheBytesInWireOrder) {
  EXPECT_EQ(deviceIdText({0x04030201, 0x08070605, 0x0C0B0A09}), "0102030405060708090a0b0c");
  EXPECT_EQ(deviceIdText({0, 0xFFFFFFFF, 0x000000AB}), "00000000ffffffffab000000");
}

}  // namespace
}  // namespace quarn::cli
