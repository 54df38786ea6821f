#include "platform/posix/sysfs_device_catalog.hpp"

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

#include "fakes/fake_platform.hpp"
#include "link/tester_discovery.hpp"

namespace quarn {
namespace {

namespace fs = std::filesystem;

// A made-up sysfs: a USB tester on ttyACM1, another USB serial adapter on ttyUSB0, a built-in
// UART without a USB parent on ttyS0, and a virtual console with no device at all.
class FakeSysfs : public ::testing::Test {
 protected:
  void SetUp() override {
    root_ = fs::temp_directory_path() / ("quarn-sysfs-" + std::to_string(::getpid()));
    fs::remove_all(root_);
    addUsbTty("ttyACM1", "usb1/1-2", "Zentrika QUARN PD Tester");
    addUsbTty("ttyUSB0", "usb1/1-3", "FT232R USB UART");
    fs::create_directories(root_ / "sys/devices/platform/serial8250/tty/ttyS0");
    fs::create_directories(root_ / "sys/class/tty/ttyS0");
    fs::create_directory_symlink(root_ / "sys/devices/platform/serial8250",
                                 root_ / "sys/class/tty/ttyS0/device");
    fs::create_directories(root_ / "sys/class/tty/tty0");
  }
  void TearDown() override { fs::remove_all(root_); }

  void addUsbTty(const std::string& node, const std::string& usbDevice,
                 const std::string& product) {
    const fs::path device = root_ / "sys/devices" / usbDevice;
    const fs::path interface = device / (fs::path(usbDevice).filename().string() + ":1.0");
    fs::create_directories(interface);
    fs::create_directories(root_ / "sys/class/tty" / node);
    std::ofstream(device / "idVendor") << "1209\n";
    std::ofstream(device / "product") << product << "\n";
    const fs::path link = root_ / "sys/class/tty" / node / "device";
    if (!fs::is_symlink(link)) fs::create_directory_symlink(interface, link);
  }

  fs::path root_;
};

TEST_F(FakeSysfs, ListsHardwareTtysWithTheirUsbProduct) {
  posix::SysfsDeviceCatalog catalog((root_ / "sys").string(), "/dev");
  const std::vector<posix::SysfsTty> ttys = catalog.scanTtys();
  ASSERT_EQ(ttys.size(), 3u);  // the virtual console has no device
  EXPECT_EQ(ttys[0].node, "ttyACM1");
  EXPECT_EQ(ttys[0].usbProduct, "Zentrika QUARN PD Tester");
  EXPECT_EQ(ttys[1].node, "ttyS0");
  EXPECT_EQ(ttys[1].usbProduct, std::nullopt);
  EXPECT_EQ(ttys[2].usbProduct, "FT232R USB UART");
}

// The "found" line shows the product string as it is, and the port is the node whatever
// parentheses the product string carries.
TEST_F(FakeSysfs, DiscoveryFindsTheTesterNode) {
  for (const std::string product :
       {"Zentrika QUARN PD Tester", "Zentrika QUARN (rev B)", "Zentrika QUARN ) odd ( name"}) {
    addUsbTty("ttyACM1", "usb1/1-2", product);
    posix::SysfsDeviceCatalog catalog((root_ / "sys").string(), "/dev");
    fakes::FakePlatform fake;
    SessionPlatform platform = fake.with(catalog);
    UpdateSession session;
    ASSERT_TRUE(discoverTester(session, platform)) << product;
    EXPECT_EQ(fake.outlets.lines, std::vector<std::string>{product + " found\n"});
    EXPECT_EQ(toUtf8(session.devicePath), "/dev/ttyACM1") << product;
  }
}

}  // namespace
}  // namespace quarn
