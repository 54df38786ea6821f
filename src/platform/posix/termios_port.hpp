#pragma once
// A tty (USB CDC-ACM device or pseudo-terminal) behind the serial port seam.
#include <string>

#include "link/serial_port.hpp"

namespace quarn::posix {

class TermiosPortOpener : public PortOpener {
 public:
  std::unique_ptr<SerialPort> openPort(WideView devicePath) override;
  // errno of the last failed opening, and whether the node may open in a moment.
  OpenFailure lastOpenFailure() const override;
  // errno of the last failed opening (EACCES tells the user to join the dialout group).
  int lastOpenError() const { return lastOpenError_; }

 private:
  int lastOpenError_ = 0;
};

}  // namespace quarn::posix
