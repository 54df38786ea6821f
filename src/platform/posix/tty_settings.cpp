#include "platform/posix/tty_settings.hpp"

#include <asm/termbits.h>
#include <sys/ioctl.h>

namespace quarn::posix {

struct TtyState {
  struct termios2 settings {};
};

TtyStateHolder::TtyStateHolder() : state(new TtyState) {}
TtyStateHolder::~TtyStateHolder() {
  delete state;
}

bool readTtyState(int fd, TtyState& state) {
  return ioctl(fd, TCGETS2, &state.settings) == 0;
}

bool applyRawLine(int fd, TtyState& state, uint32_t baudRate, uint8_t dataBits, bool parity,
                  uint8_t stopBits) {
  termios2& t = state.settings;
  t.c_iflag &= ~static_cast<tcflag_t>(IGNBRK | BRKINT | PARMRK | ISTRIP | INLCR | IGNCR | ICRNL |
                                      IXON | IXOFF | IXANY);
  t.c_oflag &= ~static_cast<tcflag_t>(OPOST);
  t.c_lflag &= ~static_cast<tcflag_t>(ECHO | ECHONL | ICANON | ISIG | IEXTEN);
  t.c_cflag &= ~static_cast<tcflag_t>(CSIZE | PARENB | CSTOPB | CBAUD);
  t.c_cflag |= CLOCAL | CREAD | BOTHER;
  t.c_cflag |= dataBits == 7 ? CS7 : CS8;
  if (parity) t.c_cflag |= PARENB;
  if (stopBits == 2) t.c_cflag |= CSTOPB;
  t.c_ispeed = baudRate;
  t.c_ospeed = baudRate;
  return ioctl(fd, TCSETS2, &t) == 0;
}

bool applyNonBlockingReads(int fd, TtyState& state) {
  state.settings.c_cc[VMIN] = 0;
  state.settings.c_cc[VTIME] = 0;
  return ioctl(fd, TCSETS2, &state.settings) == 0;
}

}  // namespace quarn::posix
