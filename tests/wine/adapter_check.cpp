// quarn-wine-adapter-check: runs the Win32 adapters against the real Windows (Wine) functions
// where the window scenarios cannot look: the port state the driver is left with, the time-outs,
// the device list as the adapter reads it, the package file size and the clock.
//
//   quarn-wine-adapter-check <device path of a raw serial port> <path of an existing file>
//
// Prints one "ok"/"FAIL" line per check and the listed devices; exits 1 if any check failed.
#include <windows.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "link/serial_link.hpp"
#include "platform/win32/comm_port.hpp"
#include "platform/win32/setupapi_device_catalog.hpp"
#include "platform/win32/win32_clock.hpp"
#include "platform/win32/win32_package_files.hpp"
#include "session/text.hpp"

namespace {

int failures = 0;

void check(bool passed, const std::string& what) {
  std::printf("%s %s\n", passed ? "ok  " : "FAIL", what.c_str());
  if (!passed) ++failures;
}

quarn::WideText fromWide(const wchar_t* text) {
  return reinterpret_cast<const char16_t*>(text);
}

DCB portState(HANDLE port) {
  DCB state{};
  state.DCBlength = sizeof(state);
  GetCommState(port, &state);
  return state;
}

bool sameExceptLineSettings(DCB before, DCB after) {
  before.BaudRate = after.BaudRate;
  before.ByteSize = after.ByteSize;
  before.Parity = after.Parity;
  before.StopBits = after.StopBits;
  return std::memcmp(&before, &after, sizeof(DCB)) == 0;
}

HANDLE openProbe(const quarn::WideText& devicePath) {
  return CreateFileW(reinterpret_cast<const wchar_t*>(devicePath.c_str()),
                     GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
}

// Configures the port through the adapter as the session does, then reads the state back
// through a second handle (the line state belongs to the port, not to the handle).
DCB configureThroughAdapter(quarn::PortOpener& opener, const quarn::WideText& devicePath,
                            const quarn::LineSettings& settings) {
  std::unique_ptr<quarn::SerialPort> port = opener.openPort(devicePath);
  check(port != nullptr, "adapter opens the port");
  if (!port) return {};
  check(port->readPortState(), "port state read");
  check(port->applyLineSettings(settings),
        "line settings applied at " + std::to_string(settings.baudRate));
  check(port->applyNonBlockingTimeouts(), "time-outs applied");
  check(port->queuedInputBytes() == 0u, "input queue empty");
  // Under the default time-outs this read would wait for 16 bytes; it must return at once.
  uint8_t buffer[16];
  const ULONGLONG readStart = GetTickCount64();
  check(port->read(buffer) == 0 && GetTickCount64() - readStart < 100,
        "read of an empty queue returns 0 at once");
  port.reset();
  HANDLE probe = openProbe(devicePath);
  const DCB state = portState(probe);
  CloseHandle(probe);
  return state;
}

void checkCommPort(const quarn::WideText& devicePath) {
  HANDLE probe = openProbe(devicePath);
  check(probe != INVALID_HANDLE_VALUE, "probe opens the port");
  if (probe == INVALID_HANDLE_VALUE) return;
  const DCB before = portState(probe);
  CloseHandle(probe);

  quarn::win32::CommPortOpener opener;
  // A standard rate first: Wine keeps it on a pty, so this shows the adapter's whole path.
  const DCB standard = configureThroughAdapter(opener, devicePath, quarn::LineSettings{115200});
  check(standard.BaudRate == 115200 && standard.ByteSize == 8 && standard.Parity == NOPARITY &&
            standard.StopBits == ONESTOPBIT,
        "port runs at 115200 8N1 after the adapter set it");
  check(sameExceptLineSettings(before, standard),
        "flow control and every other field kept as the driver had them");
  // The tester's rate is not a termios speed; Wine accepts it but a pty cannot keep it.
  const DCB tester = configureThroughAdapter(opener, devicePath, quarn::LineSettings{});
  std::printf("note 256000 baud set; the pty reports %lu\n", tester.BaudRate);
  check(tester.ByteSize == 8 && tester.Parity == NOPARITY && tester.StopBits == ONESTOPBIT,
        "8N1 after the tester's settings");
  check(opener.openPort(u"\\\\.\\COM231") == nullptr, "a port that does not exist is not opened");
}

void checkPackageFiles(const quarn::WideText& existingFile) {
  quarn::win32::Win32PackageFiles files;
  const quarn::WideText self = files.programFilePath();
  check(self.ends_with(u"\\quarn-wine-adapter-check.exe"),
        "program file path " + quarn::toUtf8(self));
  std::unique_ptr<quarn::PackageFile> file = files.openForReading(existingFile);
  check(file != nullptr, "existing file opens");
  if (!file) return;
  WIN32_FILE_ATTRIBUTE_DATA attributes{};
  GetFileAttributesExW(reinterpret_cast<const wchar_t*>(existingFile.c_str()),
                       GetFileExInfoStandard, &attributes);
  check(file->size() == attributes.nFileSizeLow, "file size as the file system reports it");
  check(files.openForReading(existingFile) == nullptr, "a file held open is not opened again");
  check(files.openForReading(existingFile + u".absent") == nullptr, "absent file is not opened");
}

void checkClock() {
  quarn::win32::Win32Clock clock;
  quarn::win32::TimerResolutionScope resolution;
  const uint64_t start = clock.nowMilliseconds();
  clock.sleepMilliseconds(100);
  const uint64_t end = clock.nowMilliseconds();
  // Only the direction is checked: how long a sleep lasts depends on the machine's load and the
  // tick's granularity, and a timed assertion would flake.
  check(end > start,
        "the clock moves on across a sleep of 100 ms (" + std::to_string(end - start) + " ms)");
}

void listDevices() {
  quarn::win32::SetupApiDeviceCatalog catalog;
  check(catalog.devicePathPrefix() == u"\\\\.\\", "device path prefix");
  std::unique_ptr<quarn::DeviceList> devices = catalog.listPresentPorts();
  check(devices != nullptr, "device list");
  if (!devices) return;
  for (uint32_t index = 0; devices->selectDevice(index); ++index) {
    const bool id = devices->readInstanceId();
    const auto description = devices->readBusReportedDescription();
    const auto name = devices->readFriendlyName();
    std::printf("device %u: id %s | %s | %s\n", index, id ? "yes" : "no",
                description ? quarn::toUtf8(*description).c_str() : "-",
                name ? quarn::toUtf8(*name).c_str() : "-");
  }
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc != 3) {
    std::fputs("usage: quarn-wine-adapter-check <device path> <existing file>\n", stderr);
    return 2;
  }
  std::setvbuf(stdout, nullptr, _IONBF, 0);  // a check that hangs still shows how far it got
  checkCommPort(fromWide(argv[1]));
  checkPackageFiles(fromWide(argv[2]));
  checkClock();
  listDevices();
  return failures == 0 ? 0 : 1;
}
