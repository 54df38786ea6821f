#include "platform/posix/sysfs_device_catalog.hpp"

#include <sys/stat.h>
#include <sys/sysmacros.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <system_error>

namespace quarn::posix {
namespace {

namespace fs = std::filesystem;

std::optional<std::string> readAttribute(const fs::path& file) {
  std::ifstream in(file);
  if (!in) return std::nullopt;
  std::string value;
  std::getline(in, value);
  while (!value.empty() && (value.back() == '\n' || value.back() == '\r')) value.pop_back();
  return value;
}

// Walks up from the tty's device towards the USB device that carries idVendor and the product
// string; that directory's name is the device's USB location ("1-1.2").
std::optional<fs::path> usbDeviceAbove(fs::path device) {
  for (int depth = 0; depth < 8 && device.has_relative_path(); ++depth) {
    std::error_code error;
    if (fs::exists(device / "idVendor", error)) return device;
    device = device.parent_path();
  }
  return std::nullopt;
}

std::optional<uint16_t> hexWord(const std::optional<std::string>& text) {
  if (!text || text->empty() || text->size() > 4) return std::nullopt;
  uint16_t value = 0;
  for (const char c : *text) {
    int digit = -1;
    if (c >= '0' && c <= '9') digit = c - '0';
    if (c >= 'a' && c <= 'f') digit = c - 'a' + 10;
    if (c >= 'A' && c <= 'F') digit = c - 'A' + 10;
    if (digit < 0) return std::nullopt;
    value = static_cast<uint16_t>(value * 16 + digit);
  }
  return value;
}

UsbIdentity identityOf(const fs::path& usbDevice) {
  UsbIdentity identity;
  identity.vendorId = hexWord(readAttribute(usbDevice / "idVendor"));
  identity.productId = hexWord(readAttribute(usbDevice / "idProduct"));
  identity.serialNumber = readAttribute(usbDevice / "serial");
  identity.location = usbDevice.filename().string();
  return identity;
}

class ListedDevices : public DeviceList {
 public:
  struct Entry {
    bool resolved;
    std::optional<std::string> description;
    std::string portPath;  // the device node (or the path given on the command line)
    UsbIdentity usb;
  };
  explicit ListedDevices(std::vector<Entry> entries) : entries_(std::move(entries)) {}

  bool selectDevice(uint32_t index) override {
    if (index >= entries_.size()) return false;
    current_ = &entries_[index];
    return true;
  }
  bool readInstanceId() override { return current_->resolved; }
  std::optional<WideText> readBusReportedDescription() override {
    if (!current_->description) return std::nullopt;
    return fromUtf8(*current_->description);
  }
  // Shown as a Windows friendly name would be, for tools that list devices.
  std::optional<WideText> readFriendlyName() override {
    if (!current_->description) return std::nullopt;
    return fromUtf8(*current_->description + " (" + current_->portPath + ")");
  }
  // The node itself, not a text cut out of the friendly name: a product string or a path with
  // parentheses of its own ("Zentrika QUARN (rev B)") must not change the port that is opened.
  // Every tty has one, USB or not, so a device list shows it for each.
  std::optional<WideText> readPortName() override { return fromUtf8(current_->portPath); }
  UsbIdentity readUsbIdentity() override { return current_->usb; }

 private:
  std::vector<Entry> entries_;
  const Entry* current_ = nullptr;
};

}  // namespace

SysfsDeviceCatalog::SysfsDeviceCatalog(std::string sysfsRoot, std::string devRoot)
    : sysfsRoot_(std::move(sysfsRoot)), devRoot_(std::move(devRoot)) {}

std::vector<SysfsTty> SysfsDeviceCatalog::scanTtys() const {
  std::vector<SysfsTty> ttys;
  std::error_code error;
  fs::directory_iterator it(fs::path(sysfsRoot_) / "class" / "tty", error);
  if (error) return ttys;
  for (const fs::directory_entry& entry : it) {
    const fs::path deviceLink = entry.path() / "device";
    if (!fs::exists(deviceLink, error)) continue;  // virtual terminals have no device
    SysfsTty tty;
    tty.node = entry.path().filename().string();
    const fs::path device = fs::canonical(deviceLink, error);
    tty.resolved = !error;
    if (tty.resolved) {
      if (const std::optional<fs::path> usb = usbDeviceAbove(device)) {
        tty.usbProduct = readAttribute(*usb / "product");
        tty.usb = identityOf(*usb);
      }
    }
    tty.deviceNumber = readAttribute(entry.path() / "dev");
    ttys.push_back(std::move(tty));
  }
  std::sort(ttys.begin(), ttys.end(),
            [](const SysfsTty& a, const SysfsTty& b) { return a.node < b.node; });
  return ttys;
}

std::unique_ptr<DeviceList> SysfsDeviceCatalog::listPresentPorts() {
  std::error_code error;
  if (!fs::is_directory(fs::path(sysfsRoot_) / "class" / "tty", error)) return nullptr;
  std::vector<ListedDevices::Entry> entries;
  for (const SysfsTty& tty : scanTtys()) {
    entries.push_back({tty.resolved, tty.usbProduct, devRoot_ + "/" + tty.node, tty.usb});
  }
  return std::make_unique<ListedDevices>(std::move(entries));
}

UsbIdentity SysfsDeviceCatalog::identifyPort(WideView devicePath) {
  struct stat node {};
  if (::stat(toUtf8(devicePath).c_str(), &node) != 0 || !S_ISCHR(node.st_mode)) return {};
  const std::string number =
      std::to_string(major(node.st_rdev)) + ":" + std::to_string(minor(node.st_rdev));
  for (const SysfsTty& tty : scanTtys()) {
    if (tty.deviceNumber == number) return tty.usb;
  }
  return {};
}

WideText SysfsDeviceCatalog::currentDevicePath(WideView devicePath, const UsbIdentity& identity) {
  if (!identity.location) return WideText(devicePath);
  for (const SysfsTty& tty : scanTtys()) {
    if (tty.usb.location == identity.location) return fromUtf8(devRoot_ + "/" + tty.node);
  }
  return WideText(devicePath);
}

}  // namespace quarn::posix
