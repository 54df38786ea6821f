// quarn-wine-adapter-check: runs the Win32 adapters against the real Windows (Wine) functions
// where the window scenarios cannot look: the port state the driver is left with, the time-outs,
// the reply wait, the device list as the adapter reads it, the package file size, the clock and
// the DLL search.
//
//   quarn-wine-adapter-check <device path of a raw serial port> <path of an existing file>
//
// The port must be the tester simulator's, started with its default device ID and
// --unplug-at-block 0 --pace-baud 4800: the reply wait is checked on the simulated bootloader's
// replies and ends with an unplug, which the slow line puts in the middle of a wait.
//
// Prints one "ok"/"FAIL" line per check and the listed devices; exits 1 if any check failed.
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "bootloader/wire_protocol.hpp"
#include "link/serial_link.hpp"
#include "platform/win32/comm_port.hpp"
#include "platform/win32/dll_search.hpp"
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
  // The second opening asks again while a COM name is not back yet (error 2, 5, 31 or 433).
  const quarn::OpenFailure missing = opener.lastOpenFailure();
  check(missing.osError != 0 && missing.notThereYet,
        "... and counts as not there yet (error " + std::to_string(missing.osError) + ")");
}

// --- the reply wait, on the simulated bootloader's replies --------------------------------------

using Bytes = std::vector<uint8_t>;

// The simulator's answer to every device-ID request: its default ID between the two markers.
const Bytes deviceIdReply = {0xFD, 0x11, 0x13, 0x0D, 0x0A, 0x03, 0x04,
                             0x1A, 0x7F, 0x00, 0xFF, 0x80, 0x5A, 0xFF};
constexpr int32_t announcedImageSize = 120;  // two blocks; the simulator unplugs at the first

Bytes repeated(const Bytes& bytes, size_t times) {
  Bytes all;
  for (size_t i = 0; i < times; ++i) all.insert(all.end(), bytes.begin(), bytes.end());
  return all;
}

Bytes received(const quarn::UpdateSession& session, uint32_t count) {
  return Bytes(session.receiveBuffer.begin(), session.receiveBuffer.begin() + count);
}

Bytes deviceIdRequest() {
  const quarn::DeviceIdRequest request =
      quarn::makeDeviceIdRequest(announcedImageSize, 0, 0, announcedImageSize, 0, 0, 0);
  return Bytes(request.begin(), request.end());
}

uint64_t threadCpuMilliseconds() {
  FILETIME created, exited, kernel, user;
  GetThreadTimes(GetCurrentThread(), &created, &exited, &kernel, &user);
  auto ticks = [](FILETIME t) { return uint64_t{t.dwHighDateTime} << 32 | t.dwLowDateTime; };
  return (ticks(kernel) + ticks(user)) / 10000;
}

// Polls (in the check, not in the adapter) until the port reports this many queued bytes.
bool queuedReaches(quarn::SerialPort& port, uint32_t count) {
  for (int i = 0; i < 300; ++i) {
    if (port.queuedInputBytes() == count) return true;
    Sleep(10);
  }
  return false;
}

void checkReplyWait(const quarn::WideText& devicePath) {
  quarn::win32::CommPortOpener opener;
  quarn::win32::Win32Clock clock;
  quarn::UpdateSession session;
  session.port = opener.openPort(devicePath);
  check(session.port != nullptr, "wait: adapter opens the port");
  if (!session.port) return;
  quarn::SerialPort& port = *session.port;
  port.readPortState();
  port.applyLineSettings(quarn::LineSettings{});
  port.applyNonBlockingTimeouts();

  const quarn::BootloaderRequest bootloader = quarn::makeBootloaderRequest();
  quarn::sendMessage(session, bootloader);
  Sleep(300);  // the simulated tester restarts; what arrives meanwhile is lost

  // Silence: the wait ends at its bound, not much later, and sleeps meanwhile.
  const uint64_t silentStart = clock.nowMilliseconds();
  const uint64_t silentCpuStart = threadCpuMilliseconds();
  const uint32_t silentCount = quarn::awaitReply(session, clock, 2, 1000);
  const uint64_t silentMs = clock.nowMilliseconds() - silentStart;
  const uint64_t silentCpuMs = threadCpuMilliseconds() - silentCpuStart;
  check(silentCount == 0 && silentMs >= 990 && silentMs <= 2500,
        "a silent port ends a 1000 ms wait at its bound (" + std::to_string(silentMs) + " ms)");
  check(silentCpuMs <= 100,
        "the silent wait sleeps (" + std::to_string(silentCpuMs) + " ms of CPU in 1000 ms)");

  // A reply longer than the count awaited: the wait takes 2 bytes in, and read() gives them
  // first and the rest behind them.
  const Bytes request = deviceIdRequest();
  quarn::sendMessage(session, request);
  port.waitForInput(0, 2, quarn::replyWaitBoundMs);
  check(port.queuedInputBytes() == deviceIdReply.size(),
        "bytes the wait took in count as queued with the rest of the reply");
  Bytes reply(256);
  const uint32_t replyCount = port.read(std::span<uint8_t>(reply.data(), deviceIdReply.size()));
  reply.resize(replyCount);
  check(reply == deviceIdReply, "all of a 14-byte reply is read, in order, when 2 are awaited");

  // More than the receive buffer: 20 replies (280 bytes) come in while 5 bytes are held; the
  // first wait reads 256 of them, the next one the other 24, all in the order sent.
  Bytes twenty = repeated(request, 20);
  port.write(twenty);
  port.waitForInput(0, 5, quarn::replyWaitBoundMs);
  const Bytes expected = repeated(deviceIdReply, 20);
  const bool allQueued = queuedReaches(port, static_cast<uint32_t>(expected.size()));
  check(allQueued, "280 reply bytes queued");
  const uint32_t first = quarn::awaitReply(session, clock, quarn::deviceIdReplyMinimum);
  const Bytes firstBytes = received(session, first);
  const uint32_t second = quarn::awaitReply(session, clock, quarn::deviceIdReplyMinimum);
  const Bytes secondBytes = received(session, second);
  check(first == 256 && std::equal(firstBytes.begin(), firstBytes.end(), expected.begin()),
        "a wait with 280 bytes queued reads the first 256 (" + std::to_string(first) + ")");
  check(second == 24 && std::equal(secondBytes.begin(), secondBytes.end(), expected.begin() + 256),
        "the next wait reads the other 24 (" + std::to_string(second) + ")");

  // Unplug: the simulated tester goes away when block 0 arrives, while the wait for its
  // acknowledgement blocks. The wait must end at once, not at its bound.
  quarn::sendMessage(session, request);
  const uint32_t idCount = quarn::awaitReply(session, clock, quarn::deviceIdReplyMinimum);
  const std::optional<quarn::DeviceId> id =
      quarn::parseDeviceIdReply(session.receiveBuffer, idCount);
  check(id.has_value(), "device ID read before the unplug");
  if (!id) return;
  quarn::sendMessage(session, quarn::makeAppSignature(*id));
  const uint32_t signatureCount = quarn::awaitReply(session, clock, quarn::signatureReplyMinimum);
  check(quarn::parseSignatureReply(session.receiveBuffer, signatureCount) ==
            quarn::SignatureVerdict::accepted,
        "signature accepted");
  quarn::sendMessage(session, quarn::makeStartRequest());
  const uint32_t startCount = quarn::awaitReply(session, clock, quarn::startReplyMinimum);
  check(quarn::parseStartReply(session.receiveBuffer, startCount) == quarn::StartVerdict::ready,
        "start reply: ready");
  quarn::DataBlock block{};
  const Bytes image(quarn::maxBlockData, 0x5A);
  const size_t blockLength = quarn::makeDataBlock(block, 0, image);
  quarn::sendMessage(session, std::span<const uint8_t>(block.data(), blockLength));
  const uint64_t unplugStart = clock.nowMilliseconds();
  const uint32_t unplugCount = quarn::awaitReply(session, clock, quarn::blockAckMinimum, 10000);
  const uint64_t unplugMs = clock.nowMilliseconds() - unplugStart;
  check(unplugCount == 0 && unplugMs < 2000,
        "an unplug during a 10 s wait ends it at once (" + std::to_string(unplugMs) + " ms)");
  check(!port.queuedInputBytes().has_value(), "the unplugged port no longer answers");
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
  const uint64_t start = clock.nowMilliseconds();
  clock.sleepMilliseconds(100);
  const uint64_t end = clock.nowMilliseconds();
  // Only the direction is checked: how long a sleep lasts depends on the machine's load and the
  // tick's granularity, and a timed assertion would flake.
  check(end > start,
        "the clock moves on across a sleep of 100 ms (" + std::to_string(end - start) + " ms)");
}

// Last: from here on, DLLs load from System32 only.
void checkDllSearch() {
  quarn::win32::restrictDllSearchToSystem32();
  check(LoadLibraryW(L"quarn-planted.dll") == nullptr,
        "a DLL beside the program is not loaded by its name");
  wchar_t path[MAX_PATH] = {};
  const DWORD length = GetModuleFileNameW(nullptr, path, MAX_PATH);
  std::wstring planted(path, length);
  planted.replace(planted.rfind(L'\\') + 1, std::wstring::npos, L"quarn-planted.dll");
  check(LoadLibraryW(planted.c_str()) != nullptr, "... though it loads by its full path");
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
  checkReplyWait(fromWide(argv[1]));
  checkPackageFiles(fromWide(argv[2]));
  checkClock();
  listDevices();
  checkDllSearch();
  return failures == 0 ? 0 : 1;
}
