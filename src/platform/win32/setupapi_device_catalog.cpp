#include "platform/win32/setupapi_device_catalog.hpp"

#include <windows.h>
// windows.h first: the Setup API headers build on its types.
#include <cfgmgr32.h>
#include <devpropdef.h>
#include <setupapi.h>

#include <array>

#include "platform/win32/wide_chars.hpp"

namespace quarn::win32 {
namespace {

// The Ports setup class {4D36E978-E325-11CE-BFC1-08002BE10318}, and the property that holds the
// product string a USB device reports about itself. Both are spelled out here so that no GUID
// has to be instantiated from the platform headers.
const GUID portsSetupClass = {
    0x4d36e978, 0xe325, 0x11ce, {0xbf, 0xc1, 0x08, 0x00, 0x2b, 0xe1, 0x03, 0x18}};
const DEVPROPKEY busReportedDeviceDescription = {
    {0x540b947e, 0x8b40, 0x45bc, {0xa8, 0xa2, 0x6a, 0x0b, 0x89, 0x4c, 0xbd, 0xa2}}, 4};

constexpr DWORD instanceIdCharacters = 200;
constexpr DWORD propertyBufferBytes = 512;  // up to 255 characters and the terminator

class SetupApiDeviceList : public DeviceList {
 public:
  explicit SetupApiDeviceList(HDEVINFO devices) : devices_(devices) {
    // Set once: every enumeration call reuses the same record.
    device_.cbSize = sizeof(device_);
  }
  ~SetupApiDeviceList() override { SetupDiDestroyDeviceInfoList(devices_); }
  SetupApiDeviceList(const SetupApiDeviceList&) = delete;
  SetupApiDeviceList& operator=(const SetupApiDeviceList&) = delete;

  bool selectDevice(uint32_t memberIndex) override {
    return SetupDiEnumDeviceInfo(devices_, memberIndex, &device_) != FALSE;
  }

  bool readInstanceId() override {
    std::array<wchar_t, instanceIdCharacters> id{};
    return CM_Get_Device_IDW(device_.DevInst, id.data(), instanceIdCharacters, 0) == CR_SUCCESS;
  }

  std::optional<WideText> readBusReportedDescription() override {
    PropertyBuffer buffer{};
    DEVPROPTYPE type = DEVPROP_TYPE_EMPTY;  // asked for because the call requires it; not tested
    if (!SetupDiGetDevicePropertyW(devices_, &device_, &busReportedDeviceDescription, &type,
                                   reinterpret_cast<PBYTE>(buffer.data()), propertyBufferBytes,
                                   nullptr, 0)) {
      return std::nullopt;
    }
    return textFromBuffer(buffer.data(), buffer.size());
  }

  std::optional<WideText> readFriendlyName() override {
    PropertyBuffer buffer{};
    if (!SetupDiGetDeviceRegistryPropertyW(devices_, &device_, SPDRP_FRIENDLYNAME, nullptr,
                                           reinterpret_cast<PBYTE>(buffer.data()),
                                           propertyBufferBytes, nullptr)) {
      return std::nullopt;
    }
    return textFromBuffer(buffer.data(), buffer.size());
  }

 private:
  using PropertyBuffer = std::array<wchar_t, propertyBufferBytes / sizeof(wchar_t)>;

  HDEVINFO devices_;
  SP_DEVINFO_DATA device_{};
};

}  // namespace

std::unique_ptr<DeviceList> SetupApiDeviceCatalog::listPresentPorts() {
  HDEVINFO devices = SetupDiGetClassDevsW(&portsSetupClass, nullptr, nullptr, DIGCF_PRESENT);
  if (devices == INVALID_HANDLE_VALUE) return nullptr;
  return std::make_unique<SetupApiDeviceList>(devices);
}

WideText SetupApiDeviceCatalog::devicePathPrefix() const {
  return u"\\\\.\\";
}

}  // namespace quarn::win32
