#include "platform/posix/termios_port.hpp"

#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <ctime>

#include "platform/posix/tty_settings.hpp"

namespace quarn::posix {
namespace {

class TermiosPort : public SerialPort {
 public:
  explicit TermiosPort(int fd) : fd_(fd) {}
  ~TermiosPort() override {
    // The exclusive flag would outlive us while another descriptor (a simulator's) stays open.
    ioctl(fd_, TIOCNXCL);
    ::close(fd_);
  }
  TermiosPort(const TermiosPort&) = delete;
  TermiosPort& operator=(const TermiosPort&) = delete;

  bool readPortState() override { return readTtyState(fd_, *state_.state); }

  bool applyLineSettings(const LineSettings& s) override {
    return applyRawLine(fd_, *state_.state, s.baudRate, s.dataBits, s.parity, s.stopBits);
  }

  bool applyNonBlockingTimeouts() override { return applyNonBlockingReads(fd_, *state_.state); }

  void write(std::span<const uint8_t> bytes) override {
    // One logical write: a non-blocking tty may take the message in parts.
    size_t done = 0;
    while (done < bytes.size()) {
      const ssize_t n = ::write(fd_, bytes.data() + done, bytes.size() - done);
      if (n > 0) {
        done += static_cast<size_t>(n);
      } else if (n < 0 && errno == EAGAIN) {
        pollfd p{fd_, POLLOUT, 0};
        if (::poll(&p, 1, 1000) <= 0) return;
      } else if (!(n < 0 && errno == EINTR)) {
        return;  // the reply wait that follows tells what became of the message
      }
    }
  }

  std::optional<uint32_t> queuedInputBytes() override {
    if (hungUp_) return std::nullopt;
    int queued = 0;
    if (ioctl(fd_, FIONREAD, &queued) != 0) return std::nullopt;
    return static_cast<uint32_t>(std::max(queued, 0));
  }

  uint32_t read(std::span<uint8_t> destination) override {
    for (;;) {
      const ssize_t n = ::read(fd_, destination.data(), destination.size());
      if (n >= 0) return static_cast<uint32_t>(n);
      if (errno != EINTR) return 0;
    }
  }

  void waitForInput(uint32_t queuedNow, uint32_t, uint32_t maxMilliseconds) override {
    if (queuedNow > 0) {
      // Part of a reply is there and poll() would return at once: let the rest arrive (at
      // 256000 baud a byte takes 39 us).
      timespec pause{0, 200 * 1000};
      if (maxMilliseconds == 0) return;
      nanosleep(&pause, nullptr);
      return;
    }
    pollfd p{fd_, POLLIN, 0};
    const int ready = ::poll(&p, 1, static_cast<int>(std::min<uint32_t>(maxMilliseconds, 60000)));
    // A vanished device (cable pulled, pty closed) must end the wait, not hold it to its bound.
    if (ready > 0 && (p.revents & (POLLHUP | POLLERR | POLLNVAL)) && !(p.revents & POLLIN))
      hungUp_ = true;
  }

 private:
  int fd_;
  TtyStateHolder state_;
  bool hungUp_ = false;
};

}  // namespace

// A tty that is coming back after its device re-enumerated: no node yet (ENOENT), the node made
// by devtmpfs still root-only until udev applies the group (EACCES), the old device not yet let
// go (EBUSY), a node whose device is gone or only half there (ENODEV, EIO).
static bool mayComeBack(int error) {
  return error == ENOENT || error == EACCES || error == EBUSY || error == ENODEV || error == EIO;
}

OpenFailure TermiosPortOpener::lastOpenFailure() const {
  if (lastOpenError_ == 0) return {};
  return OpenFailure{static_cast<uint32_t>(lastOpenError_), mayComeBack(lastOpenError_)};
}

std::unique_ptr<SerialPort> TermiosPortOpener::openPort(WideView devicePath) {
  const std::string path = toUtf8(devicePath);
  const int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) {
    lastOpenError_ = errno;
    return nullptr;
  }
  // Exclusive, as the port is on Windows: a second updater or a terminal program holding the
  // port (with a lock) makes the opening fail instead of interleaving with us.
  if (!isatty(fd) || ::flock(fd, LOCK_EX | LOCK_NB) != 0 || ioctl(fd, TIOCEXCL) != 0) {
    lastOpenError_ = isatty(fd) ? errno : ENOTTY;
    ::close(fd);
    return nullptr;
  }
  lastOpenError_ = 0;
  return std::make_unique<TermiosPort>(fd);
}

}  // namespace quarn::posix
