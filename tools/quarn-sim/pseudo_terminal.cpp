#include "pseudo_terminal.hpp"

#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <cstring>

namespace quarn::sim {

namespace {

std::string describe(const char* what) {
  return std::string(what) + ": " + std::strerror(errno);
}

// A COM port driver hands out a line that passes every byte unchanged: no echo, no XON/XOFF, no
// CR/LF translation, no signal characters, 8 bits. The slave is set so before the updater can
// open it, since the updater keeps the flow control it finds.
bool makeRaw(int fd) {
  termios settings{};
  if (tcgetattr(fd, &settings) != 0) return false;
  cfmakeraw(&settings);
  settings.c_iflag &= ~static_cast<tcflag_t>(IXON | IXOFF | IXANY);
  settings.c_cflag |= CLOCAL | CREAD;
  settings.c_cc[VMIN] = 1;
  settings.c_cc[VTIME] = 0;
  return tcsetattr(fd, TCSANOW, &settings) == 0;
}

}  // namespace

bool PseudoTerminal::open(std::string& errorText) {
  close();
  master_ = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
  if (master_ < 0) {
    errorText = describe("posix_openpt");
    return false;
  }
  std::array<char, 128> name{};
  if (grantpt(master_) != 0 || unlockpt(master_) != 0 ||
      ptsname_r(master_, name.data(), name.size()) != 0) {
    errorText = describe("unlocking the pty");
    close();
    return false;
  }
  slavePath_ = name.data();
  slave_ = ::open(slavePath_.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
  if (slave_ < 0 || !makeRaw(slave_)) {
    errorText = describe(("setting up " + slavePath_).c_str());
    close();
    return false;
  }
  const int flags = fcntl(master_, F_GETFL);
  if (flags < 0 || fcntl(master_, F_SETFL, flags | O_NONBLOCK) != 0) {
    errorText = describe("making the pty non-blocking");
    close();
    return false;
  }
  return true;
}

void PseudoTerminal::close() {
  if (slave_ >= 0) ::close(slave_);
  if (master_ >= 0) ::close(master_);
  slave_ = -1;
  master_ = -1;
  slavePath_.clear();
}

long PseudoTerminal::readAvailable(uint8_t* buffer, size_t capacity) {
  const ssize_t count = ::read(master_, buffer, capacity);
  if (count >= 0) return static_cast<long>(count);
  return errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR ? 0 : -1;
}

// The slave descriptor held here shares the updater's input queue, so its count is what the
// updater has still to read.
size_t PseudoTerminal::unreadByUpdater() const {
  int queued = 0;
  if (slave_ < 0 || ::ioctl(slave_, FIONREAD, &queued) != 0 || queued < 0) return 0;
  return static_cast<size_t>(queued);
}

bool PseudoTerminal::writeAll(const uint8_t* bytes, size_t count) {
  size_t written = 0;
  int fullWaits = 0;
  while (written < count) {
    const ssize_t result = ::write(master_, bytes + written, count - written);
    if (result > 0) {
      written += static_cast<size_t>(result);
      continue;
    }
    if (result < 0 && errno == EINTR) continue;
    if (result < 0 && errno != EAGAIN && errno != EWOULDBLOCK) return false;
    // The slave's input queue is full because nobody reads the port; give up after a while
    // rather than stall the tester.
    if (++fullWaits > 10) return false;
    pollfd writable{master_, POLLOUT, 0};
    ::poll(&writable, 1, 10);
  }
  return true;
}

bool publishLink(const std::string& linkPath, const std::string& target, std::string& errorText) {
  const std::string temporary = linkPath + ".tmp." + std::to_string(getpid());
  ::unlink(temporary.c_str());
  if (::symlink(target.c_str(), temporary.c_str()) != 0) {
    errorText = describe(("creating " + temporary).c_str());
    return false;
  }
  if (::rename(temporary.c_str(), linkPath.c_str()) != 0) {
    errorText = describe(("renaming to " + linkPath).c_str());
    ::unlink(temporary.c_str());
    return false;
  }
  return true;
}

void removeLink(const std::string& linkPath, const std::string& target) {
  std::array<char, 256> current{};
  const ssize_t length = ::readlink(linkPath.c_str(), current.data(), current.size() - 1);
  if (length < 0) return;
  if (target == std::string(current.data(), static_cast<size_t>(length))) {
    ::unlink(linkPath.c_str());
  }
}

}  // namespace quarn::sim
