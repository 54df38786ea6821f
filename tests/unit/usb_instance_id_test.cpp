// What the device installer's instance IDs tell of a USB device: VID, PID and serial number,
// including a composite's function, whose serial number is its parent's.
#include "link/usb_instance_id.hpp"

#include <gtest/gtest.h>

namespace quarn {
namespace {

struct InstanceIdRow {
  const char* name;
  WideView id;
  std::optional<WideView> parent;
  std::optional<uint16_t> vendor;
  std::optional<uint16_t> product;
  std::optional<std::string> serial;
};

TEST(UsbInstanceId, GivesVidPidAndTheSerialNumberOnlyWhereTheIdHoldsOne) {
  const InstanceIdRow rows[] = {
      {"serial", u"USB\\VID_1209&PID_5151\\QRN-0001", std::nullopt, 0x1209, 0x5151, "QRN-0001"},
      // Windows made the last part from the hub port: an "&" in it, so no serial number.
      {"no serial", u"USB\\VID_1209&PID_5151\\5&2A3B4C5D&0&2", std::nullopt, 0x1209, 0x5151,
       std::nullopt},
      {"function, serial in the parent", u"USB\\VID_1209&PID_5151&MI_00\\6&1F2E3D&0&0000",
       u"USB\\VID_1209&PID_5151\\QRN-0002", 0x1209, 0x5151, "QRN-0002"},
      {"function, parent without serial", u"USB\\VID_1209&PID_5151&MI_00\\6&1F2E3D&0&0000",
       u"USB\\VID_1209&PID_5151\\5&2A3B4C5D&0&2", 0x1209, 0x5151, std::nullopt},
      {"function, parent not read", u"USB\\VID_1209&PID_5151&MI_02\\6&1F2E3D&0&0002", std::nullopt,
       0x1209, 0x5151, std::nullopt},
      // A function's own last part never holds the serial number, even without "&".
      {"function, plain last part", u"USB\\VID_1209&PID_5151&MI_00\\0000", std::nullopt, 0x1209,
       0x5151, std::nullopt},
      // The parent is the USB device only when VID and PID agree: a hub is no such parent.
      {"function, parent of another device", u"USB\\VID_1209&PID_5151&MI_00\\6&1F&0&0000",
       u"USB\\VID_05E3&PID_0610\\HUBSERIAL", 0x1209, 0x5151, std::nullopt},
      {"lower case", u"usb\\vid_12ab&pid_5c5d\\qrn-0003", std::nullopt, 0x12AB, 0x5C5D, "qrn-0003"},
      {"lower-case function", u"usb\\vid_1209&pid_5151&mi_00\\6&1f&0&0000",
       u"usb\\vid_1209&pid_5151\\qrn-0004", 0x1209, 0x5151, "qrn-0004"},
      {"revision token", u"USB\\VID_1209&PID_5151&REV_0100\\QRN-5", std::nullopt, 0x1209, 0x5151,
       "QRN-5"},
      // Not USB, or not the USB form: nothing at all is guessed.
      {"another bus", u"ACPI\\PNP0501\\1", std::nullopt, std::nullopt, std::nullopt, std::nullopt},
      {"FTDI bus", u"FTDIBUS\\VID_0403+PID_6001+A9XYZ\\0000", std::nullopt, std::nullopt,
       std::nullopt, std::nullopt},
      {"three-digit VID", u"USB\\VID_129&PID_5151\\QRN", std::nullopt, std::nullopt, std::nullopt,
       std::nullopt},
      {"no PID", u"USB\\VID_1209\\QRN", std::nullopt, std::nullopt, std::nullopt, std::nullopt},
      {"not hex", u"USB\\VID_12G9&PID_5151\\QRN", std::nullopt, std::nullopt, std::nullopt,
       std::nullopt},
      {"no last part", u"USB\\VID_1209&PID_5151", std::nullopt, std::nullopt, std::nullopt,
       std::nullopt},
      {"empty last part", u"USB\\VID_1209&PID_5151\\", std::nullopt, 0x1209, 0x5151, std::nullopt},
      {"empty", u"", std::nullopt, std::nullopt, std::nullopt, std::nullopt},
  };
  for (const InstanceIdRow& row : rows) {
    const UsbIdentity identity = usbIdentityFromInstanceIds(row.id, row.parent);
    EXPECT_EQ(identity.vendorId, row.vendor) << row.name;
    EXPECT_EQ(identity.productId, row.product) << row.name;
    EXPECT_EQ(identity.serialNumber, row.serial) << row.name;
    EXPECT_EQ(identity.location, std::nullopt) << row.name;
  }
}

TEST(UsbInstanceId, AsksForTheParentOnlyForAFunction) {
  EXPECT_TRUE(serialIsInParent(u"USB\\VID_1209&PID_5151&MI_00\\6&1F2E3D&0&0000"));
  EXPECT_TRUE(serialIsInParent(u"usb\\vid_1209&pid_5151&mi_01\\6&1f2e3d&0&0001"));
  EXPECT_FALSE(serialIsInParent(u"USB\\VID_1209&PID_5151\\QRN-0001"));
  EXPECT_FALSE(serialIsInParent(u"USB\\VID_1209&PID_5151\\5&2A3B4C5D&0&2"));
  EXPECT_FALSE(serialIsInParent(u"ACPI\\PNP0501\\1"));
}

TEST(UsbInstanceId, TakesTheFirstStringOfAList) {
  using namespace std::string_view_literals;
  EXPECT_EQ(firstStringOfList(u"PCIROOT(0)#PCI(1400)#USBROOT(0)#USB(2)\0ACPI(_SB_)#USB(2)\0\0"sv),
            u"PCIROOT(0)#PCI(1400)#USBROOT(0)#USB(2)");
  EXPECT_EQ(firstStringOfList(u"Port_#0002.Hub_#0001"sv), u"Port_#0002.Hub_#0001");  // no end
  EXPECT_EQ(firstStringOfList(u"\0\0"sv), std::nullopt);
  EXPECT_EQ(firstStringOfList(u""sv), std::nullopt);
}

TEST(UsbInstanceId, SerialNumbersMatchWithoutRegardToCase) {
  EXPECT_TRUE(serialNumbersMatch("QRN-0001", "qrn-0001"));
  EXPECT_TRUE(serialNumbersMatch("qRn-00aB", "QrN-00Ab"));
  EXPECT_FALSE(serialNumbersMatch("QRN-0001", "QRN-0002"));
  EXPECT_FALSE(serialNumbersMatch("QRN-0001", "QRN-00010"));
  EXPECT_FALSE(serialNumbersMatch("QRN-0001", ""));
}

}  // namespace
}  // namespace quarn
