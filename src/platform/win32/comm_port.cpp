#include "platform/win32/comm_port.hpp"

#include <windows.h>

#include <algorithm>

#include "platform/win32/wide_chars.hpp"

namespace quarn::win32 {
namespace {

class CommPort : public SerialPort {
 public:
  explicit CommPort(HANDLE handle) : handle_(handle) { state_.DCBlength = sizeof(state_); }
  ~CommPort() override { CloseHandle(handle_); }
  CommPort(const CommPort&) = delete;
  CommPort& operator=(const CommPort&) = delete;

  bool readPortState() override {
    state_ = DCB{};
    state_.DCBlength = sizeof(state_);
    return GetCommState(handle_, &state_) != FALSE;
  }

  // Only the four line settings change; flow control, DTR/RTS handling and the special
  // characters stay as the driver reported them.
  bool applyLineSettings(const LineSettings& settings) override {
    state_.BaudRate = settings.baudRate;
    state_.ByteSize = settings.dataBits;
    state_.Parity = settings.parity ? EVENPARITY : NOPARITY;
    state_.StopBits = settings.stopBits == 2 ? TWOSTOPBITS : ONESTOPBIT;
    return SetCommState(handle_, &state_) != FALSE;
  }

  // An interval of MAXDWORD with both read totals zero makes ReadFile return at once with
  // whatever is queued; zero write totals mean writes have no time-out.
  bool applyNonBlockingTimeouts() override {
    COMMTIMEOUTS timeouts{MAXDWORD, 0, 0, 0, 0};
    return SetCommTimeouts(handle_, &timeouts) != FALSE;
  }

  void write(std::span<const uint8_t> bytes) override {
    DWORD written = 0;
    WriteFile(handle_, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
  }

  std::optional<uint32_t> queuedInputBytes() override {
    COMSTAT status{};
    if (!ClearCommError(handle_, nullptr, &status)) return std::nullopt;
    return status.cbInQue;
  }

  uint32_t read(std::span<uint8_t> destination) override {
    DWORD received = 0;
    ReadFile(handle_, destination.data(), static_cast<DWORD>(destination.size()), &received,
             nullptr);
    return received;
  }

  // The COM driver offers no cheap wait for "more input than now" on a synchronous handle, so
  // the reply wait polls; one tick keeps it responsive without spinning (see TimerResolutionScope
  // for why a tick is about a millisecond while a session runs).
  void waitForInput(uint32_t, uint32_t, uint32_t maxMilliseconds) override {
    Sleep(std::min<DWORD>(1, maxMilliseconds));
  }

 private:
  HANDLE handle_;
  DCB state_{};
};

}  // namespace

std::unique_ptr<SerialPort> CommPortOpener::openPort(WideView devicePath) {
  const WideText path(devicePath);
  HANDLE handle = CreateFileW(wideChars(path), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                              OPEN_EXISTING, 0, nullptr);
  if (handle == INVALID_HANDLE_VALUE) return nullptr;
  return std::make_unique<CommPort>(handle);
}

}  // namespace quarn::win32
