#include "usb_view.hpp"

#include <dirent.h>
#include <fcntl.h>
#include <grp.h>
#include <pthread.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "sim_log.hpp"
#include "simulator.hpp"

namespace quarn::sim {
namespace {

namespace fs = std::filesystem;
using SteadyClock = std::chrono::steady_clock;

// Where the testers hang: an xHCI root hub, a hub on its port 1, the testers on the hub's ports
// from 2 on ("1-1.2", "1-1.3", ...), as realpath /sys/class/tty/ttyACM0/device shows a tester on
// a real host.
const char* const controller = "sys/devices/pci0000:00/0000:00:14.0";
constexpr const char* vendorId = "0483";
constexpr const char* productId = "5740";
constexpr const char* manufacturer = "Zentrika";
constexpr unsigned acmMajor = 166;  // what cdc_acm's ttys carry; only shown, never opened

std::string locationOf(uint32_t tester) {
  return "1-1." + std::to_string(tester + 2);
}

fs::path usbDeviceDir(const fs::path& root, const std::string& location) {
  return root / controller / "usb1" / "1-1" / location;
}

void writeAttribute(const fs::path& file, const std::string& value) {
  std::ofstream(file) << value << "\n";
}

void makeUsbDevice(const fs::path& dir, const std::string& vendor, const std::string& product,
                   const std::string& productText, const std::string& serial) {
  std::error_code error;
  fs::create_directories(dir, error);
  writeAttribute(dir / "idVendor", vendor);
  writeAttribute(dir / "idProduct", product);
  writeAttribute(dir / "manufacturer", manufacturer);
  writeAttribute(dir / "product", productText);
  if (!serial.empty()) writeAttribute(dir / "serial", serial);
}

// udev's by-id name: usb-<manufacturer>_<product>_<serial>-if<NN>, blanks and odd characters as
// underscores.
std::string byIdName(const std::string& product, const std::string& serial) {
  std::string name = std::string("usb-") + manufacturer + "_" + product;
  if (!serial.empty()) name += "_" + serial;
  for (char& c : name) {
    const bool plain = (c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') ||
                       c == '-' || c == '_' || c == '.';
    if (!plain) c = '_';
  }
  return name + "-if00";
}

// udev's by-path name: the controller's PCI address, then "usb-0:" and the port path with the
// interface.
std::string byPathName(const std::string& location) {
  return "pci-0000:00:14.0-usb-0:" + location.substr(2) + ":1.0";
}

gid_t dialoutGroup() {
  const group* entry = ::getgrnam("dialout");
  return entry ? entry->gr_gid : 20;  // Debian's dialout
}

// Is the character device with this number open in any process but ours? Read from
// /proc/<pid>/fd, which shows every process's descriptors to root (and ours to us).
bool heldElsewhere(dev_t device) {
  DIR* proc = ::opendir("/proc");
  if (proc == nullptr) return false;
  const std::string self = std::to_string(::getpid());
  bool held = false;
  while (!held) {
    const dirent* entry = ::readdir(proc);
    if (entry == nullptr) break;
    const std::string pid = entry->d_name;
    if (pid.empty() || pid.find_first_not_of("0123456789") != std::string::npos || pid == self)
      continue;
    const std::string fdDir = "/proc/" + pid + "/fd";
    DIR* fds = ::opendir(fdDir.c_str());
    if (fds == nullptr) continue;
    while (const dirent* fd = ::readdir(fds)) {
      if (fd->d_name[0] == '.') continue;
      struct stat target {};
      if (::stat((fdDir + "/" + fd->d_name).c_str(), &target) == 0 && S_ISCHR(target.st_mode) &&
          target.st_rdev == device) {
        held = true;
        break;
      }
    }
    ::closedir(fds);
  }
  ::closedir(proc);
  return held;
}

class UsbView;

struct Tester {
  uint32_t index = 0;  // from 0; tester index + 1 in the options
  std::string location;
  SimOptions options;
  SimLog log;
  std::unique_ptr<PortObserver> observer;
  std::unique_ptr<Simulator> simulator;
  std::thread thread;
  std::atomic<bool> done = false;
  std::atomic<bool> appeared = false;  // its first node stands
  int exitCode = exitOk;

  // The node now standing, if any.
  int appearances = 0;
  bool live = false;
  int number = -1;
  std::string slavePath;
  dev_t device = 0;
  std::string byId;
  std::optional<SteadyClock::time_point> grantAt;  // udev's turn, still to come
};

// A node that has gone while a process may still hold it: its ttyACM number stays taken until
// nobody does. Our own descriptor keeps the pty's number from being handed to another pty
// meanwhile, so the device number names this one old node only.
struct Retired {
  int number;
  dev_t device;
  int ownFd;
};

class UsbView {
 public:
  UsbView(const SimOptions& options) : options_(options), root_(options.usbViewDir) {}

  bool build();
  int run(const sigset_t& stopSignals, const sigset_t& waitMask,
          volatile sig_atomic_t& stopRequested);

  void portOpened(Tester& tester, const std::string& slavePath);
  void portClosing(Tester& tester);

 private:
  int lowestFreeNumber();
  void grant(Tester& tester);
  void runDueGrants();
  void removeNode(Tester& tester);

  const SimOptions& options_;
  fs::path root_;
  std::mutex mutex_;
  std::vector<std::unique_ptr<Tester>> testers_;
  std::vector<Retired> retired_;
};

class TesterObserver : public PortObserver {
 public:
  TesterObserver(UsbView& view, Tester& tester) : view_(view), tester_(tester) {}
  void portOpened(const std::string& slavePath) override { view_.portOpened(tester_, slavePath); }
  void portClosing(const std::string&) override { view_.portClosing(tester_); }

 private:
  UsbView& view_;
  Tester& tester_;
};

bool UsbView::build() {
  std::error_code error;
  fs::create_directories(root_ / "sys/class/tty", error);
  fs::create_directories(root_ / "dev/serial/by-id", error);
  fs::create_directories(root_ / "dev/serial/by-path", error);
  if (error) {
    std::fprintf(stderr, "quarn-sim: cannot make the USB view in %s: %s\n", root_.c_str(),
                 error.message().c_str());
    return false;
  }
  // The bus the testers hang on: the root hub and a hub, both USB devices of their own.
  makeUsbDevice(root_ / controller / "usb1", "1d6b", "0002", "xHCI Host Controller", "");
  makeUsbDevice(root_ / controller / "usb1/1-1", "05e3", "0610", "USB2.1 Hub", "");
  // Ttys that are not USB: two built-in UARTs (a platform device each) and a virtual console
  // without any device.
  for (const int port : {0, 1}) {
    const std::string node = "ttyS" + std::to_string(port);
    const fs::path platform = root_ / "sys/devices/platform/serial8250";
    const fs::path tty = platform / "tty" / node;
    fs::create_directories(tty, error);
    writeAttribute(tty / "dev", "4:" + std::to_string(64 + port));
    fs::create_directory_symlink(platform, tty / "device", error);
    fs::create_directory_symlink(tty, root_ / "sys/class/tty" / node, error);
  }
  const fs::path console = root_ / "sys/devices/virtual/tty/tty0";
  fs::create_directories(console, error);
  writeAttribute(console / "dev", "4:0");
  fs::create_directory_symlink(console, root_ / "sys/class/tty/tty0", error);

  for (uint32_t i = 0; i < options_.testers; ++i) {
    auto tester = std::make_unique<Tester>();
    tester->index = i;
    tester->location = locationOf(i);
    tester->options = options_;
    SimOptions& own = tester->options;
    const std::string suffix = i == 0 ? "" : "." + std::to_string(i + 1);
    if (!own.imageOut.empty()) own.imageOut += suffix;
    if (!own.logPath.empty()) own.logPath += suffix;
    if (!own.vanishMs) own.vanishMs = 800;
    if (!own.products.empty())
      own.product = own.products[std::min<size_t>(i, own.products.size() - 1)];
    if (options_.unplugTester && options_.unplugTester->count == i + 1) {
      own.unplugAtBlock = options_.unplugTester->block;
    }
    if (!own.serial) {
      char serial[16];
      std::snprintf(serial, sizeof serial, "QA%04u", static_cast<unsigned>(i + 1));
      own.serial = serial;
    }
    if (!own.logPath.empty() && !tester->log.open(own.logPath)) {
      std::fprintf(stderr, "quarn-sim: cannot open log %s\n", own.logPath.c_str());
      return false;
    }
    tester->observer = std::make_unique<TesterObserver>(*this, *tester);
    tester->simulator = std::make_unique<Simulator>(tester->options, tester->log);
    tester->simulator->setPortObserver(tester->observer.get());
    testers_.push_back(std::move(tester));
  }
  return true;
}

// The kernel's rule (drivers/usb/class/cdc-acm.c): a newly enumerated device takes the lowest
// free minor (acm_alloc_minor), and a disconnected device's minor is released only when the last
// descriptor of its old tty is closed (acm_port_destruct -> acm_release_minor). So a tester that
// restarts while the updater still holds /dev/ttyACM0 comes back as /dev/ttyACM1.
int UsbView::lowestFreeNumber() {
  std::set<int> taken;
  for (const auto& tester : testers_) {
    if (tester->live) taken.insert(tester->number);
  }
  std::erase_if(retired_, [&](const Retired& old) {
    if (heldElsewhere(old.device)) {
      taken.insert(old.number);
      return false;
    }
    if (old.ownFd >= 0) ::close(old.ownFd);
    return true;
  });
  int number = 0;
  while (taken.contains(number)) ++number;
  return number;
}

// udev's turn (the package's rule: root:dialout 0660), then its by-id and by-path links. Before
// it, devtmpfs's node is root's alone (0600): a user in dialout gets EACCES. The mode is the
// pty's own, which the node links to.
void UsbView::grant(Tester& tester) {
  tester.grantAt.reset();
  if (::geteuid() == 0 && ::chown(tester.slavePath.c_str(), 0, dialoutGroup()) != 0) {
    std::fprintf(stderr, "quarn-sim: chown %s: %s\n", tester.slavePath.c_str(),
                 std::strerror(errno));
  }
  ::chmod(tester.slavePath.c_str(), 0660);
  std::error_code error;
  const std::string target = "../../ttyACM" + std::to_string(tester.number);
  fs::create_symlink(target, root_ / "dev/serial/by-id" / tester.byId, error);
  fs::create_symlink(target, root_ / "dev/serial/by-path" / byPathName(tester.location), error);
}

void UsbView::runDueGrants() {
  const std::lock_guard lock(mutex_);
  const auto now = SteadyClock::now();
  for (const auto& tester : testers_) {
    if (tester->live && tester->grantAt && *tester->grantAt <= now) grant(*tester);
  }
}

// The tester (application firmware or, after the restart, its bootloader) enumerates: its USB
// device and interface, the tty with its dev file, the class entry and the node (devtmpfs's, as
// root 0600 until udev's turn).
void UsbView::portOpened(Tester& tester, const std::string& slavePath) {
  const std::lock_guard lock(mutex_);
  const bool bootloader = ++tester.appearances > 1;
  struct stat pty {};
  if (::stat(slavePath.c_str(), &pty) != 0) {
    std::fprintf(stderr, "quarn-sim: %s: %s\n", slavePath.c_str(), std::strerror(errno));
    return;
  }
  tester.number = lowestFreeNumber();
  tester.slavePath = slavePath;
  tester.device = pty.st_rdev;
  const SimOptions& o = tester.options;
  const std::string product = bootloader ? o.bootloaderProduct.value_or(o.product) : o.product;
  const std::string serial =
      bootloader ? o.bootloaderSerial.value_or(o.serial.value_or("")) : o.serial.value_or("");
  tester.byId = byIdName(product, serial);

  const std::string node = "ttyACM" + std::to_string(tester.number);
  const fs::path usb = usbDeviceDir(root_, tester.location);
  const fs::path interface = usb / (tester.location + ":1.0");
  const fs::path tty = interface / "tty" / node;
  std::error_code error;
  makeUsbDevice(usb, vendorId, productId, product, serial);
  fs::create_directories(tty, error);
  writeAttribute(interface / "bInterfaceClass", "02");
  // The pty's own number stands for the node's: quarn-update matches a --port by it.
  writeAttribute(tty / "dev",
                 std::to_string(major(pty.st_rdev)) + ":" + std::to_string(minor(pty.st_rdev)));
  writeAttribute(tty / "uevent", "MAJOR=" + std::to_string(acmMajor) + "\nMINOR=" +
                                     std::to_string(tester.number) + "\nDEVNAME=" + node);
  fs::create_directory_symlink(interface, tty / "device", error);

  if (::geteuid() == 0 && ::chown(slavePath.c_str(), 0, 0) != 0) {
    std::fprintf(stderr, "quarn-sim: chown %s: %s\n", slavePath.c_str(), std::strerror(errno));
  }
  ::chmod(slavePath.c_str(), 0600);
  fs::create_symlink(slavePath, root_ / "dev" / node, error);
  fs::create_directory_symlink(tty, root_ / "sys/class/tty" / node, error);
  tester.live = true;
  if (bootloader && o.rootOnlyMs > 0) {
    tester.grantAt = SteadyClock::now() + std::chrono::milliseconds(o.rootOnlyMs);
  } else {
    grant(tester);
  }
  tester.appeared = true;
  std::fprintf(stderr, "quarn-sim: %s at %s is /dev/%s (%s)\n",
               bootloader ? "bootloader" : "tester", tester.location.c_str(), node.c_str(),
               slavePath.c_str());
}

void UsbView::removeNode(Tester& tester) {
  const std::string node = "ttyACM" + std::to_string(tester.number);
  std::error_code error;
  fs::remove(root_ / "dev/serial/by-id" / tester.byId, error);
  fs::remove(root_ / "dev/serial/by-path" / byPathName(tester.location), error);
  fs::remove(root_ / "dev" / node, error);
  fs::remove(root_ / "sys/class/tty" / node, error);
  fs::remove_all(usbDeviceDir(root_, tester.location), error);
}

// The tester drops off the bus (restart into the bootloader, unplug, or the simulator's end):
// the driver hangs its tty up (the pty's master closes after this) and the node, its links and
// its sysfs entries go at once; its number stays taken while anyone holds the old node.
void UsbView::portClosing(Tester& tester) {
  const std::lock_guard lock(mutex_);
  if (!tester.live) return;
  const int own = ::open(tester.slavePath.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  retired_.push_back({tester.number, tester.device, own});
  removeNode(tester);
  tester.live = false;
  tester.grantAt.reset();
}

int UsbView::run(const sigset_t& stopSignals, const sigset_t& waitMask,
                 volatile sig_atomic_t& stopRequested) {
  // One after the other, as a hub enumerates its ports: the testers take their first numbers in
  // the order of their locations.
  for (const auto& tester : testers_) {
    Tester* t = tester.get();
    t->thread = std::thread([t, &waitMask, &stopRequested] {
      t->exitCode = t->simulator->run(waitMask, stopRequested);
      t->done = true;
    });
    while (!t->appeared && !t->done) std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  bool announced = false;
  for (;;) {
    const bool allDone =
        std::all_of(testers_.begin(), testers_.end(), [](const auto& t) { return t->done.load(); });
    if (allDone) break;
    if (!announced && std::all_of(testers_.begin(), testers_.end(),
                                  [](const auto& t) { return t->appeared || t->done; })) {
      std::printf("usb-view ready %s\n", root_.c_str());
      std::fflush(stdout);
      announced = true;
    }
    runDueGrants();
    const timespec tick{0, 5 * 1000 * 1000};
    const int received = sigtimedwait(&stopSignals, nullptr, &tick);
    if (received > 0 || stopRequested) {
      stopRequested = 1;
      for (const auto& tester : testers_) {
        if (!tester->done) pthread_kill(tester->thread.native_handle(), SIGTERM);
      }
    }
  }
  int code = exitOk;
  for (const auto& tester : testers_) {
    tester->thread.join();
    std::fprintf(stderr, "quarn-sim: tester %u at %s:\n", tester->index + 1,
                 tester->location.c_str());
    tester->simulator->printSummary();
    tester->simulator.reset();  // its port closes: the tester's node goes
    if (tester->exitCode == exitSetup) code = exitSetup;
    if (tester->exitCode == exitImageBad && code == exitOk) code = exitImageBad;
  }
  for (const Retired& old : retired_) {
    if (old.ownFd >= 0) ::close(old.ownFd);
  }
  return code;
}

}  // namespace

int runUsbView(const SimOptions& options, const sigset_t& stopSignals, const sigset_t& waitMask,
               volatile sig_atomic_t& stopRequested) {
  UsbView view(options);
  if (!view.build()) return exitSetup;
  return view.run(stopSignals, waitMask, stopRequested);
}

}  // namespace quarn::sim
