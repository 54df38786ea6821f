#pragma once
// The tester's COM port through the Windows communications functions.
#include "link/serial_port.hpp"

namespace quarn::win32 {

class CommPortOpener : public PortOpener {
 public:
  std::unique_ptr<SerialPort> openPort(WideView devicePath) override;
};

}  // namespace quarn::win32
