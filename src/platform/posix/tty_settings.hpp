#pragma once
// Line settings through termios2, kept apart because <asm/termbits.h> cannot share a file with
// <termios.h>: 256000 baud has no B-constant and needs BOTHER.
#include <cstdint>

namespace quarn::posix {

struct TtyState;  // the driver's settings as read, opaque to the port

struct TtyStateHolder {
  TtyStateHolder();
  ~TtyStateHolder();
  TtyStateHolder(const TtyStateHolder&) = delete;
  TtyStateHolder& operator=(const TtyStateHolder&) = delete;
  TtyState* state;
};

bool readTtyState(int fd, TtyState& state);
// Raw 8-bit line at this rate: a fresh tty echoes, maps CR/LF and obeys XON/XOFF, any of which
// would change or swallow bytes of the binary exchange. Hardware flow control stays as read.
bool applyRawLine(int fd, TtyState& state, uint32_t baudRate, uint8_t dataBits, bool parity,
                  uint8_t stopBits);
// Reads return at once with what is there.
bool applyNonBlockingReads(int fd, TtyState& state);

}  // namespace quarn::posix
