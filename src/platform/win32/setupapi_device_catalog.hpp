#pragma once
// The present serial ports as the Windows device installer lists them (the Ports setup class).
#include "link/device_list.hpp"

namespace quarn::win32 {

class SetupApiDeviceCatalog : public DeviceCatalog {
 public:
  std::unique_ptr<DeviceList> listPresentPorts() override;
  WideText devicePathPrefix() const override;
};

}  // namespace quarn::win32
