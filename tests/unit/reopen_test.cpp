// The second opening after the restart: asked again while the opener says "not there yet", up to
// one bound; the path is the one the device catalog finds for the tester's identity now (on Linux
// the tty beneath its USB location); the adapters that tell a passing failure from a final one;
// and what the command line shows of the wait.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>
#include <fstream>

#include "cli/cli_reporter.hpp"
#include "cli/human_face.hpp"
#include "cli/json_face.hpp"
#include "cli/named_port_catalog.hpp"
#include "cli/port_gate.hpp"
#include "fakes/console_capture.hpp"
#include "fakes/fake_platform.hpp"
#include "link/serial_link.hpp"
#include "link/tester_discovery.hpp"
#include "platform/posix/sysfs_device_catalog.hpp"
#include "platform/posix/termios_port.hpp"

namespace quarn {
namespace {

namespace fs = std::filesystem;

const OpenFailure notThere{2, true};
const OpenFailure denied{13, true};
const OpenFailure final{22, false};

// Records the reconnect hooks beside the lines and boxes.
class ReconnectOutlets : public fakes::RecordingOutlets {
 public:
  explicit ReconnectOutlets(fakes::EventLog& log) : RecordingOutlets(log) {}
  void reportReconnecting() override { events.push_back("reconnecting"); }
  void reportReconnected(WideView path) override { events.push_back("back:" + toUtf8(path)); }
  std::vector<std::string> events;
};

// A catalog whose tester comes back under the paths given, one per look (the last stays).
class MovingCatalog : public DeviceCatalog {
 public:
  std::unique_ptr<DeviceList> listPresentPorts() override { return nullptr; }
  WideText devicePathPrefix() const override { return {}; }
  WideText currentDevicePath(WideView devicePath, const UsbIdentity& identity) override {
    looks.push_back(toUtf8(devicePath) + "@" + identity.location.value_or("-"));
    if (paths.empty()) return WideText(devicePath);
    WideText path = fromUtf8(paths.front());
    if (paths.size() > 1) paths.erase(paths.begin());
    return path;
  }
  std::vector<std::string> paths;
  std::vector<std::string> looks;
};

struct ReopenWorld {
  fakes::EventLog log;
  ReconnectOutlets outlets{log};
  fakes::FakeClock clock{log};
  fakes::ScriptedTester tester;
  fakes::ScriptedPortOpener ports{tester, clock, log};
  fakes::MemoryPackageFiles files{log};
  MovingCatalog devices;
  SessionPlatform platform{outlets, devices, ports, files, clock};
  UpdateSession session;

  ReopenWorld() { session.devicePath = u"/dev/ttyACM0"; }
  void failFirst(int count, OpenFailure failure) {
    for (int i = 0; i < count; ++i) {
      tester.openResults.push_back(false);
      tester.openFailures.push_back(failure);
    }
  }
  int sleeps() const {
    int count = 0;
    for (const std::string& e : log.events) count += e.starts_with("sleep:") ? 1 : 0;
    return count;
  }
};

TEST(SecondOpening, OpensAtOnceWhenThePortIsThere) {
  ReopenWorld w;
  ASSERT_TRUE(reopenTesterPort(w.session, w.platform));
  EXPECT_EQ(w.log.events, std::vector<std::string>{"open:/dev/ttyACM0"});
  EXPECT_EQ(w.outlets.events, (std::vector<std::string>{"reconnecting", "back:/dev/ttyACM0"}));
  EXPECT_TRUE(w.outlets.lines.empty());
}

TEST(SecondOpening, AsksAgainWhileThePortIsNotThereYet) {
  ReopenWorld w;
  w.failFirst(3, notThere);
  w.failFirst(2, denied);  // a new node still root-only
  const uint64_t start = w.clock.now;
  ASSERT_TRUE(reopenTesterPort(w.session, w.platform));
  EXPECT_EQ(w.tester.opens, 6);
  EXPECT_EQ(w.sleeps(), 5);
  for (const std::string& e : w.log.events) {
    if (e.starts_with("sleep:")) {
      EXPECT_EQ(e, "sleep:" + std::to_string(reopenRetryIntervalMs));
    }
  }
  EXPECT_GE(reopenRetryIntervalMs, 50u);
  EXPECT_LE(reopenRetryIntervalMs, 100u);
  EXPECT_EQ(w.clock.now - start, 5 * reopenRetryIntervalMs);
  EXPECT_TRUE(w.outlets.lines.empty()) << "no report while waiting";
  EXPECT_EQ(w.outlets.events.back(), "back:/dev/ttyACM0");
}

TEST(SecondOpening, GivesUpAtTheBoundWithTheLastPathTried) {
  ReopenWorld w;
  w.failFirst(1000, notThere);
  const uint64_t start = w.clock.now;
  EXPECT_FALSE(reopenTesterPort(w.session, w.platform));
  EXPECT_EQ(reopenBoundMs, 10000u);
  EXPECT_EQ(w.clock.now - start, reopenBoundMs);
  EXPECT_GE(w.tester.opens, int(reopenBoundMs / reopenRetryIntervalMs));
  EXPECT_LE(w.tester.opens, int(reopenBoundMs / reopenRetryIntervalMs) + 2);
  EXPECT_EQ(w.outlets.lines, std::vector<std::string>{"Failed to open /dev/ttyACM0\n"});
  EXPECT_EQ(w.outlets.events, std::vector<std::string>{"reconnecting"});
  EXPECT_FALSE(w.session.port);
}

TEST(SecondOpening, AFinalFailureEndsAtOnce) {
  ReopenWorld w;
  w.failFirst(1, final);
  EXPECT_FALSE(reopenTesterPort(w.session, w.platform));
  EXPECT_EQ(w.tester.opens, 1);
  EXPECT_EQ(w.sleeps(), 0);
  EXPECT_EQ(w.outlets.lines, std::vector<std::string>{"Failed to open /dev/ttyACM0\n"});
}

// The catalog is asked before every try: the bootloader's node may appear while we wait.
TEST(SecondOpening, OpensWhereTheCatalogFindsTheTesterNow) {
  ReopenWorld w;
  w.session.testerIdentity.location = "1-1.2";
  w.devices.paths = {"/dev/ttyACM0", "/dev/ttyACM0", "/dev/ttyACM1"};
  w.failFirst(2, notThere);
  ASSERT_TRUE(reopenTesterPort(w.session, w.platform));
  EXPECT_EQ(w.log.events.back(), "open:/dev/ttyACM1");
  EXPECT_EQ(w.devices.looks, std::vector<std::string>(3, "/dev/ttyACM0@1-1.2"));
  EXPECT_EQ(w.outlets.events.back(), "back:/dev/ttyACM1");
  EXPECT_EQ(toUtf8(w.session.devicePath), "/dev/ttyACM0") << "the tester's path stays";
}

TEST(SecondOpening, NamesThePathLastTriedWhenItGivesUp) {
  ReopenWorld w;
  w.devices.paths = {"/dev/ttyACM0", "/dev/ttyACM3"};
  w.failFirst(1000, denied);
  EXPECT_FALSE(reopenTesterPort(w.session, w.platform));
  EXPECT_EQ(w.outlets.lines, std::vector<std::string>{"Failed to open /dev/ttyACM3\n"});
}

// A made-up sysfs as the simulator's USB view keeps it: a tester at 1-1.2 whose tty's dev file
// holds the number of a real character device, so that a node (or a link to it) resolves.
class UsbSysfs : public ::testing::Test {
 protected:
  void SetUp() override {
    root_ = fs::temp_directory_path() / ("quarn-reopen-" + std::to_string(::getpid()));
    fs::remove_all(root_);
    fs::create_directories(root_ / "dev/serial/by-id");
    struct stat null {};
    ASSERT_EQ(::stat("/dev/null", &null), 0);
    nullNumber_ = std::to_string(major(null.st_rdev)) + ":" + std::to_string(minor(null.st_rdev));
  }
  void TearDown() override { fs::remove_all(root_); }

  void addTester(const std::string& location, const std::string& node, const std::string& dev,
                 const std::string& serial = "QA0001") {
    const fs::path usb = root_ / "sys/devices/pci0000:00/usb1/1-1" / location;
    const fs::path tty = usb / (location + ":1.0") / "tty" / node;
    fs::create_directories(tty);
    std::ofstream(usb / "idVendor") << "1209\n";
    std::ofstream(usb / "idProduct") << "a7d1\n";
    std::ofstream(usb / "product") << "Zentrika QUARN PD Tester\n";
    std::ofstream(usb / "serial") << serial << "\n";
    std::ofstream(tty / "dev") << dev << "\n";
    fs::create_directories(root_ / "sys/class/tty");
    fs::create_directory_symlink(tty, root_ / "sys/class/tty" / node);
    fs::create_directory_symlink(usb / (location + ":1.0"), tty / "device");
  }
  void removeTester(const std::string& location, const std::string& node) {
    fs::remove(root_ / "sys/class/tty" / node);
    fs::remove_all(root_ / "sys/devices/pci0000:00/usb1/1-1" / location);
  }
  posix::SysfsDeviceCatalog catalog() const {
    return posix::SysfsDeviceCatalog((root_ / "sys").string(), (root_ / "dev").string());
  }

  fs::path root_;
  std::string nullNumber_;
};

TEST_F(UsbSysfs, DiscoveryKeepsTheTestersIdentity) {
  addTester("1-1.2", "ttyACM0", "166:0");
  posix::SysfsDeviceCatalog devices = catalog();
  fakes::FakePlatform fake;
  SessionPlatform platform = fake.with(devices);
  UpdateSession session;
  ASSERT_TRUE(discoverTester(session, platform));
  EXPECT_EQ(toUtf8(session.devicePath), (root_ / "dev/ttyACM0").string());
  EXPECT_EQ(session.testerIdentity.location, "1-1.2");
  EXPECT_EQ(session.testerIdentity.vendorId, 0x1209);
  EXPECT_EQ(session.testerIdentity.productId, 0xa7d1);
  EXPECT_EQ(session.testerIdentity.serialNumber, "QA0001");
}

TEST_F(UsbSysfs, FindsTheTtyNowBeneathTheLocation) {
  addTester("1-1.2", "ttyACM0", "166:0");
  addTester("1-1.3", "ttyACM1", "166:1", "QB0002");
  posix::SysfsDeviceCatalog devices = catalog();
  UsbIdentity identity;
  identity.location = "1-1.2";
  const WideText old = fromUtf8((root_ / "dev/ttyACM0").string());
  EXPECT_EQ(devices.currentDevicePath(old, identity), old);

  // The restart: the old node goes, the bootloader comes back at the same place as ttyACM2
  // with another serial number.
  removeTester("1-1.2", "ttyACM0");
  EXPECT_EQ(devices.currentDevicePath(old, identity), old) << "nothing there: the old path";
  addTester("1-1.2", "ttyACM2", "166:2", "BOOT");
  EXPECT_EQ(toUtf8(devices.currentDevicePath(old, identity)), (root_ / "dev/ttyACM2").string());

  identity.location.reset();
  EXPECT_EQ(devices.currentDevicePath(old, identity), old) << "no location: the same path";
}

TEST_F(UsbSysfs, IdentifiesANamedPortByItsDeviceNumberThroughLinks) {
  addTester("1-1.2", "ttyACM0", "166:0");
  addTester("1-1.4", "ttyACM1", nullNumber_, "QN0003");
  const fs::path link = root_ / "dev/serial/by-id/usb-Zentrika_QUARN_QN0003-if00";
  fs::create_symlink("/dev/null", link);
  posix::SysfsDeviceCatalog devices = catalog();
  for (const std::string& path : {std::string("/dev/null"), link.string()}) {
    const UsbIdentity identity = devices.identifyPort(fromUtf8(path));
    EXPECT_EQ(identity.location, "1-1.4") << path;
    EXPECT_EQ(identity.serialNumber, "QN0003") << path;
  }
  EXPECT_FALSE(devices.identifyPort(u"/nonexistent").location);
  EXPECT_FALSE(devices.identifyPort(fromUtf8(root_.string())).location) << "not a device";

  // --port hands the identity to the session through its one-entry list.
  cli::NamedPortCatalog named(fromUtf8(link.string()), {}, devices);
  fakes::FakePlatform fake;
  SessionPlatform platform = fake.with(named);
  UpdateSession session;
  ASSERT_TRUE(discoverTester(session, platform));
  EXPECT_EQ(toUtf8(session.devicePath), link.string());
  EXPECT_EQ(session.testerIdentity.location, "1-1.4");
  EXPECT_EQ(named.currentDevicePath(session.devicePath, session.testerIdentity),
            fromUtf8((root_ / "dev/ttyACM1").string()));
}

TEST(TermiosOpenFailure, TellsAMissingNodeFromAFinalFailure) {
  posix::TermiosPortOpener opener;
  EXPECT_FALSE(opener.openPort(u"/nonexistent/ttyACM9"));
  EXPECT_EQ(opener.lastOpenFailure().osError, uint32_t(ENOENT));
  EXPECT_TRUE(opener.lastOpenFailure().notThereYet);
  // A file that is no tty will not become one.
  EXPECT_FALSE(opener.openPort(u"/dev/null"));
  EXPECT_EQ(opener.lastOpenFailure().osError, uint32_t(ENOTTY));
  EXPECT_FALSE(opener.lastOpenFailure().notThereYet);
}

TEST(PortGateOpenFailure, PassesTheAdaptersReasonOnUntilInterrupted) {
  fakes::EventLog log;
  fakes::FakeClock clock{log};
  fakes::ScriptedTester tester;
  fakes::ScriptedPortOpener opener{tester, clock, log};
  fakes::TestMutex mutex;
  cli::PortGate gate(opener, mutex, clock);
  tester.openResults = {false};
  tester.openFailures = {notThere};
  EXPECT_FALSE(gate.openPort(u"/dev/ttyACM0"));
  EXPECT_EQ(gate.lastOpenFailure().osError, 2u);
  EXPECT_TRUE(gate.lastOpenFailure().notThereYet);
  gate.closeForInterrupt([] {}, 100);
  EXPECT_FALSE(gate.openPort(u"/dev/ttyACM0"));
  EXPECT_FALSE(gate.lastOpenFailure().notThereYet) << "an interrupted session waits no more";
}

TEST(ReconnectFaces, TheTerminalShowsTheWaitAndJsonTheReturn) {
  fakes::CapturedStream terminal(true), err;
  cli::HumanFace human(terminal, err, "quarn-update");
  human.render(cli::ReconnectEvent{false, {}});
  EXPECT_NE(terminal.text.find("waiting for the tester to come back as its bootloader..."),
            std::string::npos);
  human.render(cli::ReconnectEvent{true, "/dev/ttyACM1"});
  human.render(cli::LineEvent{ReportCode::programmingComplete, u"Programming complete.\n"});
  EXPECT_TRUE(terminal.text.ends_with("\rProgramming complete.\n")) << terminal.text;

  fakes::CapturedStream file, fileErr;
  cli::HumanFace piped(file, fileErr, "quarn-update");
  piped.render(cli::ReconnectEvent{false, {}});
  piped.render(cli::ReconnectEvent{true, "/dev/ttyACM1"});
  EXPECT_EQ(file.text, "") << "no note in a file or a pipe";

  fakes::CapturedStream json;
  cli::JsonFace face(json);
  face.render(cli::ReconnectEvent{false, {}});
  face.render(cli::ReconnectEvent{true, "/dev/ttyACM1"});
  EXPECT_EQ(json.text, "{\"event\":\"reconnected\",\"port\":\"/dev/ttyACM1\"}\n");
}

TEST(ReconnectFaces, QuietShowsNothingOfIt) {
  fakes::RecordingFace face;
  fakes::TestMutex mutex;
  fakes::EventLog log;
  fakes::FakeClock clock{log};
  cli::CliReporter quiet(face, mutex, clock, true);
  quiet.reportReconnecting();
  quiet.reportReconnected(u"/dev/ttyACM1");
  EXPECT_TRUE(face.events.empty());
  cli::CliReporter loud(face, mutex, clock, false);
  loud.reportReconnecting();
  loud.reportReconnected(u"/dev/ttyACM1");
  const auto events = face.all<cli::ReconnectEvent>();
  ASSERT_EQ(events.size(), 2u);
  EXPECT_FALSE(events[0].back);
  EXPECT_EQ(events[1].port, "/dev/ttyACM1");
}

}  // namespace
}  // namespace quarn
