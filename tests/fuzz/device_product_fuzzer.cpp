// The Linux device list's text from outside: a USB tty's product string, read from its sysfs
// attribute (the first line, line ends cut), decoded from UTF-8 and matched by discovery. The
// bytes are written as the product attribute of a made-up sysfs tree with one USB tty.
#include <stdlib.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <string>

#include "fakes/fake_platform.hpp"
#include "fuzz_support.hpp"
#include "link/tester_discovery.hpp"
#include "platform/posix/sysfs_device_catalog.hpp"
#include "session/status_reporting.hpp"

namespace {

namespace fs = std::filesystem;
using namespace quarn;
using fuzz::require;

// Rewriting a file on a disk file system waits for its journal, which slows a run down tenfold;
// a memory-backed one is taken where there is one.
fs::path scratchDirectory() {
  std::error_code error;
  if (fs::is_directory("/dev/shm", error)) return "/dev/shm";
  return fs::temp_directory_path();
}

class MadeUpSysfs {
 public:
  MadeUpSysfs() {
    std::string pattern = (scratchDirectory() / "quarn-fuzz-sysfs-XXXXXX").string();
    require(mkdtemp(pattern.data()) != nullptr, "a temporary directory");
    root_ = pattern;
    const fs::path device = root_ / "sys/devices/usb1/1-2";
    fs::create_directories(device / "1-2:1.0");
    fs::create_directories(root_ / "sys/class/tty/ttyACM0");
    fs::create_directory_symlink(device / "1-2:1.0", root_ / "sys/class/tty/ttyACM0/device");
    std::ofstream(device / "idVendor") << "1209\n";
    product_ = device / "product";
  }
  ~MadeUpSysfs() {
    std::error_code ignored;
    fs::remove_all(root_, ignored);
  }
  MadeUpSysfs(const MadeUpSysfs&) = delete;
  MadeUpSysfs& operator=(const MadeUpSysfs&) = delete;

  void writeProduct(const uint8_t* bytes, size_t size) const {
    std::ofstream(product_, std::ios::binary | std::ios::trunc)
        .write(reinterpret_cast<const char*>(bytes), static_cast<std::streamsize>(size));
  }
  std::string sysfsRoot() const { return (root_ / "sys").string(); }

 private:
  fs::path root_;
  fs::path product_;
};

// A well-formed UTF-16 text: every high surrogate followed by a low one, no low one alone.
bool wellFormed(WideView text) {
  for (size_t i = 0; i < text.size(); ++i) {
    const char16_t unit = text[i];
    if (unit >= 0xDC00 && unit < 0xE000) return false;
    if (unit >= 0xD800 && unit < 0xDC00) {
      if (i + 1 == text.size() || text[i + 1] < 0xDC00 || text[i + 1] >= 0xE000) return false;
      ++i;
    }
  }
  return true;
}

// An ASCII byte is never part of a longer sequence, so the decoder gives back each one as it is,
// in order, whatever malformed bytes lie around it.
bool asciiKept(std::string_view bytes, WideView text) {
  std::u16string asciiIn;
  for (const char byte : bytes) {
    if (static_cast<uint8_t>(byte) < 0x80) asciiIn += static_cast<char16_t>(byte);
  }
  std::u16string asciiOut;
  std::copy_if(text.begin(), text.end(), std::back_inserter(asciiOut),
               [](char16_t unit) { return unit < 0x80; });
  return asciiIn == asciiOut;
}

void checkDecoding(std::string_view bytes, WideView text) {
  require(wellFormed(text), "the decoded product string is not well-formed UTF-16");
  require(asciiKept(bytes, text), "the decoder lost or invented an ASCII character");
  require(fromUtf8(toUtf8(text)) == text, "UTF-16 -> UTF-8 -> UTF-16 does not round-trip");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const MadeUpSysfs sysfs;
  sysfs.writeProduct(data, size);

  // The attribute's value: its first line, without the line ends behind it.
  std::string_view line(reinterpret_cast<const char*>(data), size);
  line = line.substr(0, line.find('\n'));
  while (!line.empty() && line.back() == '\r') line.remove_suffix(1);
  const WideText product = fromUtf8(line);
  checkDecoding(line, product);

  posix::SysfsDeviceCatalog catalog(sysfs.sysfsRoot(), "/dev");
  fakes::FakePlatform fake;
  SessionPlatform platform = fake.with(catalog);
  UpdateSession session;
  const bool found = discoverTester(session, platform);
  if (product.find(testerMatchText) == WideText::npos) {
    require(!found && fake.outlets.lines.empty(), "a device that is no tester was taken");
    return 0;
  }
  require(found, "the tester was not found");
  require(fake.outlets.lines ==
              std::vector<std::string>{toUtf8(formatLine(messages::deviceFound.text, {product}))},
          "the found line does not show the product string as it is");
  require(session.devicePath == u"/dev/ttyACM0", "the port is not the tester's device node");
  return 0;
}
