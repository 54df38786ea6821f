// The USB identity the Linux device list gives each tty, as --list shows it and --serial and
// --location pick by: read from the USB device above the tty's interface, nothing for a tty
// that is not USB, nothing guessed for an attribute that is missing or malformed.
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <map>

#include "cli/tester_pick.hpp"
#include "platform/posix/sysfs_device_catalog.hpp"

namespace quarn {
namespace {

namespace fs = std::filesystem;

class SysfsIdentity : public ::testing::Test {
 protected:
  void SetUp() override {
    root_ = fs::temp_directory_path() / ("quarn-identity-" + std::to_string(::getpid()));
    fs::remove_all(root_);
    fs::create_directories(root_ / "sys/class/tty");
  }
  void TearDown() override { fs::remove_all(root_); }

  // A tty beneath interface <usb>:1.0 of the USB device at bus path <usb>; each attribute
  // written only when given.
  void addUsbTty(const std::string& node, const std::string& usb,
                 const std::map<std::string, std::string>& attributes) {
    const fs::path device = root_ / "sys/devices/pci0000:00/0000:00:14.0/usb1" / usb;
    const fs::path interface = device / (usb + ":1.0");
    fs::create_directories(interface / "tty" / node);
    for (const auto& [name, value] : attributes) std::ofstream(device / name) << value << "\n";
    fs::create_directories(root_ / "sys/class/tty" / node);
    fs::create_directory_symlink(interface, root_ / "sys/class/tty" / node / "device");
  }

  std::vector<cli::DeviceEvent> list() {
    posix::SysfsDeviceCatalog catalog((root_ / "sys").string(), "/dev");
    const std::unique_ptr<DeviceList> devices = catalog.listPresentPorts();
    std::vector<cli::DeviceEvent> events;
    for (uint32_t i = 0; devices && devices->selectDevice(i); ++i) {
      events.push_back(cli::examineDevice(*devices));
    }
    return events;
  }

  fs::path root_;
};

TEST_F(SysfsIdentity, ReadsVidPidSerialAndTheUsbDevicesNameAsItsLocation) {
  addUsbTty("ttyACM0", "1-1.2",
            {{"idVendor", "1209"},
             {"idProduct", "5151"},
             {"product", "Zentrika QUARN PD Tester"},
             {"serial", "qrn-0001"}});
  // Behind two hubs, a device without a serial number; upper-case hex as some drivers write it.
  addUsbTty("ttyACM1", "1-4.3.1",
            {{"idVendor", "0ABC"}, {"idProduct", "5f5F"}, {"product", "Zentrika QUARN PD Tester"}});
  // Attributes that are not four hexadecimal digits are not guessed at.
  addUsbTty("ttyUSB0", "1-5",
            {{"idVendor", "12g9"},
             {"idProduct", "515151"},
             {"product", "FT232R USB UART"},
             {"serial", "A9XYZ"}});
  fs::create_directories(root_ / "sys/devices/platform/serial8250/tty/ttyS0");
  fs::create_directories(root_ / "sys/class/tty/ttyS0");
  fs::create_directory_symlink(root_ / "sys/devices/platform/serial8250",
                               root_ / "sys/class/tty/ttyS0/device");

  const std::vector<cli::DeviceEvent> devices = list();
  ASSERT_EQ(devices.size(), 4u);
  const struct {
    const char* port;
    std::optional<uint16_t> vendor;
    std::optional<uint16_t> product;
    std::optional<std::string> serial;
    std::optional<std::string> location;
    bool tester;
  } rows[] = {
      {"/dev/ttyACM0", 0x1209, 0x5151, "qrn-0001", "1-1.2", true},
      {"/dev/ttyACM1", 0x0ABC, 0x5F5F, std::nullopt, "1-4.3.1", true},
      {"/dev/ttyS0", std::nullopt, std::nullopt, std::nullopt, std::nullopt, false},
      {"/dev/ttyUSB0", std::nullopt, std::nullopt, "A9XYZ", "1-5", false},
  };
  for (size_t i = 0; i < std::size(rows); ++i) {
    const cli::DeviceEvent& d = devices[i];
    EXPECT_EQ(d.port, rows[i].port);
    EXPECT_EQ(d.usb.vendorId, rows[i].vendor) << rows[i].port;
    EXPECT_EQ(d.usb.productId, rows[i].product) << rows[i].port;
    EXPECT_EQ(d.usb.serialNumber, rows[i].serial) << rows[i].port;
    EXPECT_EQ(d.usb.location, rows[i].location) << rows[i].port;
    EXPECT_EQ(d.tester, rows[i].tester) << rows[i].port;
  }
  // The pick by these values: the serial number in another letter case, the location exactly.
  EXPECT_TRUE(cli::pickMatches({"QRN-0001", "1-1.2"}, devices[0].usb));
  EXPECT_FALSE(cli::pickMatches({"QRN-0001", std::nullopt}, devices[1].usb));
  EXPECT_TRUE(cli::pickMatches({std::nullopt, "1-4.3.1"}, devices[1].usb));
  EXPECT_FALSE(cli::pickMatches({std::nullopt, "1-4.3"}, devices[1].usb));
}

}  // namespace
}  // namespace quarn
