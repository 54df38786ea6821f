#pragma once
// Options of the simulator's gadget mode: the tester plays the device side of a Linux USB gadget
// (the ACM function of a configfs gadget, such as dummy_hcd's in tests/vm), so the host side is
// the kernel's own cdc_acm driver and udev. They are taken out of argv before the common options
// are read, so every other option keeps its one meaning and its one parser.
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace quarn::sim {

struct GadgetOptions {
  std::string tty;        // the gadget's device-side tty, /dev/ttyGS<N>; set = gadget mode
  std::string gadgetDir;  // /sys/kernel/config/usb_gadget/<name>, needed to restart or unplug
  std::string udc;        // the controller to bind to; default: the one bound at start
  // The USB product ID the bootloader reports once the gadget is bound again (default: as
  // before); its product string and serial are the common --bootloader-product and
  // --bootloader-serial.
  std::optional<uint16_t> bootloaderPid;

  bool enabled() const { return !tty.empty(); }
};

// Removes the gadget options from argv and fills options; the remaining words, argv[0] first,
// are left in rest. Gives false with errorText on a bad gadget option.
bool extractGadgetOptions(int argc, char** argv, GadgetOptions& options, std::vector<char*>& rest,
                          std::string& errorText);

const char* gadgetHelpText();

}  // namespace quarn::sim
