#pragma once
// What a device instance ID of the Windows device installer tells of a USB device, as pure text
// functions so that they are tested on every system. A USB device's ID reads
//   USB\VID_1209&PID_5151\QRN-0001            a device with a serial number
//   USB\VID_1209&PID_5151\5&2A3B4C5D&0&2      one without: Windows made the last part from the
//                                             hub port, recognisable by its "&"
//   USB\VID_1209&PID_5151&MI_00\6&1F2E3D&0&0000   one function of a composite device (a CDC ACM
//                                             port is one): the serial number, if any, is in
//                                             the parent's ID, the USB device itself
// Windows upper-cases instance IDs (a serial "qrn-0001" is listed as "QRN-0001"), so serial
// numbers compare without regard to case (serialNumbersMatch); the parsing takes either case.
#include <cstdint>
#include <optional>
#include <string>

#include "link/device_list.hpp"
#include "session/text.hpp"

namespace quarn {

struct UsbInstanceId {
  uint16_t vendorId = 0;
  uint16_t productId = 0;
  bool compositeFunction = false;             // the hardware part carries MI_xx
  std::optional<std::string> lastPartSerial;  // the last part, when it is a serial number
};

// The parts of a USB device instance ID; nothing for an ID of another bus, or one whose VID_ or
// PID_ is not four hexadecimal digits.
std::optional<UsbInstanceId> parseUsbInstanceId(WideView instanceId);

// Whether the serial number has to be looked for in the parent's ID (CM_Get_Parent).
bool serialIsInParent(WideView instanceId);

// VID, PID and serial number from a device's instance ID and, for a composite's function, its
// parent's. The parent counts only when it is the USB device of the same VID and PID; the
// location is not in either ID and stays empty.
UsbIdentity usbIdentityFromInstanceIds(WideView instanceId,
                                       std::optional<WideView> parentInstanceId);

// The first string of a string list (REG_MULTI_SZ, DEVPROP_TYPE_STRING_LIST: strings each ended
// by a terminator, an empty one ending the list), read within the given characters; nothing
// when it is empty.
std::optional<WideText> firstStringOfList(WideView list);

// Serial numbers are equal when they are equal letter for letter, ASCII letters compared without
// regard to case.
bool serialNumbersMatch(std::string_view a, std::string_view b);

}  // namespace quarn
