#include "platform/win32/setupapi_device_catalog.hpp"

#include <windows.h>
// windows.h first: the Setup API headers build on its types.
#include <cfgmgr32.h>
#include <devpropdef.h>
#include <setupapi.h>

#include <array>
#include <vector>

#include "link/usb_instance_id.hpp"
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
// Where the device sits: a string list whose first string is the path through the buses
// ("PCIROOT(0)#PCI(1400)#USBROOT(0)#USB(2)#USB(3)"), which stays when the device restarts.
const DEVPROPKEY locationPaths = {
    {0xa45c254e, 0xdf1c, 0x4efd, {0x80, 0x20, 0x67, 0xd1, 0x46, 0xa8, 0x50, 0xe0}}, 37};

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

  bool readInstanceId() override { return instanceIdOf(device_.DevInst).has_value(); }

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

  // VID, PID and serial number from the instance ID (a composite's function: the serial number
  // from its parent's), the location from the location paths or, where a driver gives none, the
  // location information ("Port_#0002.Hub_#0001").
  UsbIdentity readUsbIdentity() override {
    const std::optional<WideText> id = instanceIdOf(device_.DevInst);
    if (!id) return {};
    std::optional<WideText> parentId;
    if (serialIsInParent(*id)) {
      DEVINST parent = 0;
      if (CM_Get_Parent(&parent, device_.DevInst, 0) == CR_SUCCESS) parentId = instanceIdOf(parent);
    }
    UsbIdentity identity = usbIdentityFromInstanceIds(
        *id, parentId ? std::optional<WideView>(*parentId) : std::nullopt);
    if (std::optional<WideText> location = readLocationPath()) {
      identity.location = toUtf8(*location);
    } else if (std::optional<WideText> information = readLocationInformation()) {
      identity.location = toUtf8(*information);
    }
    return identity;
  }

 private:
  static std::optional<WideText> instanceIdOf(DEVINST devInst) {
    std::array<wchar_t, instanceIdCharacters> id{};
    if (CM_Get_Device_IDW(devInst, id.data(), instanceIdCharacters, 0) != CR_SUCCESS) {
      return std::nullopt;
    }
    return textFromBuffer(id.data(), id.size());
  }

  std::optional<WideText> readLocationPath() {
    // Location paths grow with the depth of the hubs: asked again with the size the call needs.
    std::vector<wchar_t> buffer(propertyBufferBytes / sizeof(wchar_t));
    DEVPROPTYPE type = DEVPROP_TYPE_EMPTY;
    DWORD required = 0;
    for (int attempt = 0; attempt < 2; ++attempt) {
      const auto bytes = static_cast<DWORD>(buffer.size() * sizeof(wchar_t));
      if (SetupDiGetDevicePropertyW(devices_, &device_, &locationPaths, &type,
                                    reinterpret_cast<PBYTE>(buffer.data()), bytes, &required, 0)) {
        if (type != DEVPROP_TYPE_STRING_LIST && type != DEVPROP_TYPE_STRING) return std::nullopt;
        // The buffer starts zeroed, so the list ends within it even if the value came without
        // its final terminator.
        return firstStringOfList(textFromBuffer(buffer.data(), buffer.size()));
      }
      if (GetLastError() != ERROR_INSUFFICIENT_BUFFER || required <= bytes) return std::nullopt;
      buffer.assign(required / sizeof(wchar_t) + 1, L'\0');
    }
    return std::nullopt;
  }

  std::optional<WideText> readLocationInformation() {
    PropertyBuffer buffer{};
    if (!SetupDiGetDeviceRegistryPropertyW(devices_, &device_, SPDRP_LOCATION_INFORMATION, nullptr,
                                           reinterpret_cast<PBYTE>(buffer.data()),
                                           propertyBufferBytes, nullptr)) {
      return std::nullopt;
    }
    WideText text = textFromBuffer(buffer.data(), buffer.size());
    if (text.empty()) return std::nullopt;
    return text;
  }

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
