#include "platform/win32/comm_port.hpp"

#include <windows.h>

#include <algorithm>
#include <array>

#include "platform/win32/wide_chars.hpp"
#include "session/update_session.hpp"

namespace quarn::win32 {
namespace {

// The longest one read of the reply wait blocks before the wait looks at the port again. A USB
// serial driver usually fails a pending read as soon as its device is removed, but nothing
// documents that it must; under Wine a read of a hung-up pty even runs to its time-out (busy
// inside Wine meanwhile). A silent tester costs one read and one status request per slice; a
// vanished one is noticed within a slice instead of at the end of the reply bound.
constexpr DWORD readSliceMs = 100;

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
    waitTimeoutMs_.reset();
    return SetCommTimeouts(handle_, &timeouts) != FALSE;
  }

  void write(std::span<const uint8_t> bytes) override {
    DWORD written = 0;
    WriteFile(handle_, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
  }

  // The bytes the wait has taken in count as queued: to the link they are still unread input.
  std::optional<uint32_t> queuedInputBytes() override {
    if (gone_) return std::nullopt;
    COMSTAT status{};
    if (!ClearCommError(handle_, nullptr, &status)) return std::nullopt;
    return static_cast<uint32_t>(heldCount_) + status.cbInQue;
  }

  // Held bytes first, then what the driver has queued, never more than the destination or the
  // holding buffer takes. Only bytes known to be queued are asked for, so the read returns at
  // once whichever time-outs the wait left set.
  uint32_t read(std::span<uint8_t> destination) override {
    const size_t limit = std::min(destination.size(), held_.size());
    size_t count = std::min(limit, heldCount_);
    std::copy_n(held_.begin(), count, destination.begin());
    std::copy(held_.begin() + static_cast<ptrdiff_t>(count),
              held_.begin() + static_cast<ptrdiff_t>(heldCount_), held_.begin());
    heldCount_ -= count;
    COMSTAT status{};
    if (count < limit && !gone_ && ClearCommError(handle_, nullptr, &status) &&
        status.cbInQue > 0) {
      const DWORD more = static_cast<DWORD>(std::min<size_t>(limit - count, status.cbInQue));
      DWORD received = 0;
      ReadFile(handle_, destination.data() + count, more, &received, nullptr);
      count += received;
    }
    return static_cast<uint32_t>(count);
  }

  // The wait blocks in ReadFile itself, so it wakes on the reply's last byte, not on a timer:
  // under COMMTIMEOUTS {0, 0, T} a synchronous read returns once the count asked for has
  // arrived, or after T ms with what came (documented, so any COM driver does it). Polling
  // would cost a timer tick per reply (15.6 ms on Windows unless the timer is raised machine-
  // wide, over 1 ms under Wine); WaitCommEvent needs an overlapped handle. The read asks for
  // exactly the bytes still missing (those in the driver's queue come with it); what it takes is
  // held and leads the next read(), also when it timed out part-way. T is the slice or the rest
  // of the bound and is set only when it changes, which is seldom. Without it the read could
  // not be bounded, so a port that refuses it counts as gone.
  void waitForInput(uint32_t, uint32_t wanted, uint32_t maxMilliseconds) override {
    // All-zero read time-outs would mean "wait for the count, however long".
    if (gone_ || maxMilliseconds == 0 || heldCount_ >= wanted) return;
    const size_t missing = std::min<size_t>(wanted - heldCount_, held_.size() - heldCount_);
    if (missing == 0) return;
    if (!useWaitTimeout(std::min<DWORD>(maxMilliseconds, readSliceMs))) {
      gone_ = true;
      return;
    }
    DWORD received = 0;
    ReadFile(handle_, held_.data() + heldCount_, static_cast<DWORD>(missing), &received, nullptr);
    heldCount_ += received;
  }

 private:
  bool useWaitTimeout(DWORD milliseconds) {
    if (waitTimeoutMs_ == milliseconds) return true;
    COMMTIMEOUTS timeouts{0, 0, milliseconds, 0, 0};
    if (!SetCommTimeouts(handle_, &timeouts)) return false;
    waitTimeoutMs_ = milliseconds;
    return true;
  }

  HANDLE handle_;
  DCB state_{};
  std::array<uint8_t, receiveBufferSize> held_{};
  size_t heldCount_ = 0;
  std::optional<DWORD> waitTimeoutMs_;  // the read total of the wait's time-outs, once set
  bool gone_ = false;
};

}  // namespace

std::unique_ptr<SerialPort> CommPortOpener::openPort(WideView devicePath) {
  const WideText path(devicePath);
  HANDLE handle = CreateFileW(wideChars(path), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                              OPEN_EXISTING, 0, nullptr);
  if (handle == INVALID_HANDLE_VALUE) {
    lastOpenError_ = GetLastError();
    return nullptr;
  }
  lastOpenError_ = 0;
  return std::make_unique<CommPort>(handle);
}

// A COM name that is coming back after its device re-enumerated: not there yet
// (ERROR_FILE_NOT_FOUND), still held or half present (ERROR_ACCESS_DENIED, ERROR_GEN_FAILURE,
// ERROR_NO_SUCH_DEVICE, 433, which mingw-w64's headers do not all name).
OpenFailure CommPortOpener::lastOpenFailure() const {
  constexpr unsigned long errorNoSuchDevice = 433;  // ERROR_NO_SUCH_DEVICE
  if (lastOpenError_ == 0) return {};
  const bool notThereYet =
      lastOpenError_ == ERROR_FILE_NOT_FOUND || lastOpenError_ == ERROR_ACCESS_DENIED ||
      lastOpenError_ == ERROR_GEN_FAILURE || lastOpenError_ == errorNoSuchDevice;
  return OpenFailure{static_cast<uint32_t>(lastOpenError_), notThereYet};
}

}  // namespace quarn::win32
