#include "platform/posix/sysfs_device_catalog.hpp"

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

// Walks up from the tty's device towards the USB device that carries the product string.
std::optional<std::string> usbProductAbove(fs::path device) {
  for (int depth = 0; depth < 8 && device.has_relative_path(); ++depth) {
    std::error_code error;
    if (fs::exists(device / "idVendor", error)) return readAttribute(device / "product");
    device = device.parent_path();
  }
  return std::nullopt;
}

class ListedDevices : public DeviceList {
 public:
  struct Entry {
    bool resolved;
    std::optional<std::string> description;
    std::string portPath;  // the device node (or the path given on the command line)
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
    if (tty.resolved) tty.usbProduct = usbProductAbove(device);
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
    entries.push_back({tty.resolved, tty.usbProduct, devRoot_ + "/" + tty.node});
  }
  return std::make_unique<ListedDevices>(std::move(entries));
}

}  // namespace quarn::posix
