#pragma once
// The tester's COM port through the Windows communications functions.
#include "link/serial_port.hpp"

namespace quarn::win32 {

class CommPortOpener : public PortOpener {
 public:
  std::unique_ptr<SerialPort> openPort(WideView devicePath) override;
  // GetLastError of the last failed CreateFileW, and whether the COM name may open in a moment.
  OpenFailure lastOpenFailure() const override;

 private:
  unsigned long lastOpenError_ = 0;
};

}  // namespace quarn::win32
