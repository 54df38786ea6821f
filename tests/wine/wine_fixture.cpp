// quarn-wine-fixture: registers stand-in testers in the Ports setup class of a Wine prefix, so
// that the updater's discovery sees them as the device installer would list a plugged-in tester.
//
//   quarn-wine-fixture add <bus-reported description> <friendly name> <instance suffix> ...
//       (one triple per device; "-" leaves a property unset)
//   quarn-wine-fixture locate <instance suffix> <location path> <location information>
//       gives a registered device where it sits on the bus, as a USB hub driver would: the
//       location paths (a one-string list) and the location information; "-" leaves one unset
//   quarn-wine-fixture clear      removes every device that "add" registered
//   quarn-wine-fixture list       prints each Ports-class device: instance ID | description | name
#include <windows.h>
// windows.h first: the Setup API headers build on its types.
#include <devpropdef.h>
#include <setupapi.h>

#include <array>
#include <cstdio>
#include <cwchar>
#include <string>

namespace {

const GUID portsSetupClass = {
    0x4d36e978, 0xe325, 0x11ce, {0xbf, 0xc1, 0x08, 0x00, 0x2b, 0xe1, 0x03, 0x18}};
const DEVPROPKEY busReportedDeviceDescription = {
    {0x540b947e, 0x8b40, 0x45bc, {0xa8, 0xa2, 0x6a, 0x0b, 0x89, 0x4c, 0xbd, 0xa2}}, 4};
const DEVPROPKEY locationPaths = {
    {0xa45c254e, 0xdf1c, 0x4efd, {0x80, 0x20, 0x67, 0xd1, 0x46, 0xa8, 0x50, 0xe0}}, 37};
// Every stand-in lives under this made-up USB vendor and product, so "clear" touches only them.
const std::wstring instancePrefix = L"USB\\VID_1209&PID_0001\\";

}  // namespace

// The import library has it; the headers of this toolchain do not declare it.
extern "C" WINSETUPAPI BOOL WINAPI SetupDiSetDevicePropertyW(HDEVINFO, PSP_DEVINFO_DATA,
                                                             const DEVPROPKEY*, DEVPROPTYPE,
                                                             const BYTE*, DWORD, DWORD);

namespace {

int fail(const char* what) {
  std::fprintf(stderr, "quarn-wine-fixture: %s failed (error %lu)\n", what, GetLastError());
  return 1;
}

// The stored text includes its terminator, as the device installer stores strings.
DWORD bytesWithTerminator(const std::wstring& text) {
  return static_cast<DWORD>((text.size() + 1) * sizeof(wchar_t));
}

int addDevice(const std::wstring& description, const std::wstring& friendlyName,
              const std::wstring& suffix) {
  HDEVINFO devices = SetupDiCreateDeviceInfoList(&portsSetupClass, nullptr);
  if (devices == INVALID_HANDLE_VALUE) return fail("SetupDiCreateDeviceInfoList");
  SP_DEVINFO_DATA device{};
  device.cbSize = sizeof(device);
  const std::wstring instanceId = instancePrefix + suffix;
  int result = 0;
  if (!SetupDiCreateDeviceInfoW(devices, instanceId.c_str(), &portsSetupClass, nullptr, nullptr, 0,
                                &device)) {
    result = fail("SetupDiCreateDeviceInfoW");
  } else if (!SetupDiRegisterDeviceInfo(devices, &device, 0, nullptr, nullptr, nullptr)) {
    result = fail("SetupDiRegisterDeviceInfo");
  } else if (friendlyName != L"-" &&
             !SetupDiSetDeviceRegistryPropertyW(devices, &device, SPDRP_FRIENDLYNAME,
                                                reinterpret_cast<const BYTE*>(friendlyName.c_str()),
                                                bytesWithTerminator(friendlyName))) {
    result = fail("SetupDiSetDeviceRegistryPropertyW");
  } else if (description != L"-" &&
             !SetupDiSetDevicePropertyW(devices, &device, &busReportedDeviceDescription,
                                        DEVPROP_TYPE_STRING,
                                        reinterpret_cast<const BYTE*>(description.c_str()),
                                        bytesWithTerminator(description), 0)) {
    result = fail("SetupDiSetDevicePropertyW");
  }
  SetupDiDestroyDeviceInfoList(devices);
  return result;
}

std::wstring instanceIdOf(HDEVINFO devices, SP_DEVINFO_DATA& device) {
  std::array<wchar_t, 512> id{};
  if (!SetupDiGetDeviceInstanceIdW(devices, &device, id.data(), static_cast<DWORD>(id.size()),
                                   nullptr)) {
    return {};
  }
  return id.data();
}

void printUtf8(const std::wstring& text) {
  const int size = WideCharToMultiByte(CP_UTF8, 0, text.c_str(), -1, nullptr, 0, nullptr, nullptr);
  std::string bytes(static_cast<size_t>(size > 0 ? size : 1), '\0');
  WideCharToMultiByte(CP_UTF8, 0, text.c_str(), -1, bytes.data(), size, nullptr, nullptr);
  std::fputs(bytes.c_str(), stdout);
}

// Walks every Ports-class device, present or not (Wine lists both alike).
template <typename Visit>
int forEachPort(Visit visit) {
  HDEVINFO devices = SetupDiGetClassDevsW(&portsSetupClass, nullptr, nullptr, 0);
  if (devices == INVALID_HANDLE_VALUE) return fail("SetupDiGetClassDevsW");
  SP_DEVINFO_DATA device{};
  device.cbSize = sizeof(device);
  int result = 0;
  for (DWORD index = 0; SetupDiEnumDeviceInfo(devices, index, &device); ++index) {
    result |= visit(devices, device);
  }
  SetupDiDestroyDeviceInfoList(devices);
  return result;
}

int locateDevice(const std::wstring& suffix, const std::wstring& path,
                 const std::wstring& information) {
  const std::wstring instanceId = instancePrefix + suffix;
  bool found = false;
  const int result = forEachPort([&](HDEVINFO devices, SP_DEVINFO_DATA& device) {
    if (instanceIdOf(devices, device) != instanceId) return 0;
    found = true;
    // A string list: the string, its terminator, and the empty string that ends the list.
    const std::wstring list = path + L'\0';
    if (path != L"-" &&
        !SetupDiSetDevicePropertyW(devices, &device, &locationPaths, DEVPROP_TYPE_STRING_LIST,
                                   reinterpret_cast<const BYTE*>(list.c_str()),
                                   bytesWithTerminator(list), 0)) {
      return fail("SetupDiSetDevicePropertyW");
    }
    if (information != L"-" &&
        !SetupDiSetDeviceRegistryPropertyW(devices, &device, SPDRP_LOCATION_INFORMATION,
                                           reinterpret_cast<const BYTE*>(information.c_str()),
                                           bytesWithTerminator(information))) {
      return fail("SetupDiSetDeviceRegistryPropertyW");
    }
    return 0;
  });
  if (!found) {
    std::fprintf(stderr, "quarn-wine-fixture: no registered device %ls\n", instanceId.c_str());
    return 1;
  }
  return result;
}

int clearDevices() {
  return forEachPort([](HDEVINFO devices, SP_DEVINFO_DATA& device) {
    if (instanceIdOf(devices, device).rfind(instancePrefix, 0) != 0) return 0;
    return SetupDiRemoveDevice(devices, &device) ? 0 : fail("SetupDiRemoveDevice");
  });
}

std::wstring stringProperty(HDEVINFO devices, SP_DEVINFO_DATA& device, bool description) {
  std::array<wchar_t, 512> text{};
  const auto bytes = static_cast<DWORD>(sizeof(text) - sizeof(wchar_t));  // keeps a terminator
  DEVPROPTYPE type = 0;
  const BOOL ok =
      description
          ? SetupDiGetDevicePropertyW(devices, &device, &busReportedDeviceDescription, &type,
                                      reinterpret_cast<BYTE*>(text.data()), bytes, nullptr, 0)
          : SetupDiGetDeviceRegistryPropertyW(devices, &device, SPDRP_FRIENDLYNAME, nullptr,
                                              reinterpret_cast<BYTE*>(text.data()), bytes, nullptr);
  return ok ? std::wstring(text.data()) : L"-";
}

int listDevices() {
  return forEachPort([](HDEVINFO devices, SP_DEVINFO_DATA& device) {
    printUtf8(instanceIdOf(devices, device) + L" | " + stringProperty(devices, device, true) +
              L" | " + stringProperty(devices, device, false) + L"\n");
    return 0;
  });
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  const std::wstring command = argc > 1 ? argv[1] : L"";
  if (command == L"add" && argc >= 5 && (argc - 2) % 3 == 0) {
    for (int i = 2; i < argc; i += 3) {
      if (addDevice(argv[i], argv[i + 1], argv[i + 2]) != 0) return 1;
    }
    return 0;
  }
  if (command == L"locate" && argc == 5) return locateDevice(argv[2], argv[3], argv[4]);
  if (command == L"clear" && argc == 2) return clearDevices();
  if (command == L"list" && argc == 2) return listDevices();
  std::fputs(
      "usage: quarn-wine-fixture add <description> <friendly name> <instance suffix> ...\n"
      "       quarn-wine-fixture locate <instance suffix> <location path> <location info>\n"
      "       quarn-wine-fixture clear | list\n",
      stderr);
  return 2;
}
