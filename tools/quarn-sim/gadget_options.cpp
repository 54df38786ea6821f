#include "gadget_options.hpp"

#include <charconv>
#include <string_view>

namespace quarn::sim {

namespace {

const char helpText[] =
    R"(
Gadget mode (Linux, as root; tests/vm runs it in a virtual machine):
  --gadget-tty PATH        play the tester on the device side of a USB gadget's ACM function,
                           PATH = /dev/ttyGS<N>, instead of on a pty; the host sees the kernel's
                           cdc_acm node. --link, --pace-baud and --usb-view do not apply.
  --gadget DIR             the gadget's configfs directory (/sys/kernel/config/usb_gadget/NAME):
                           the bootloader request unbinds it and, with --vanish MS, binds it again
                           MS ms later; an unplug unbinds it for good. Without --vanish the
                           tester does not restart (the same node stays).
  --udc NAME               the controller to bind to (default: the one bound at start; bound at
                           start when the gadget is not bound yet)
  --bootloader-pid HEX     the USB product ID the bootloader reports (default: unchanged);
                           --bootloader-product and --bootloader-serial give its strings
Exit status 3 in gadget mode: the gadget's tty or its configfs directory cannot be used.
)";

bool parsePid(std::string_view text, uint16_t& value) {
  if (text.starts_with("0x") || text.starts_with("0X")) text.remove_prefix(2);
  if (text.empty() || text.size() > 4) return false;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value, 16);
  return error == std::errc() && end == text.data() + text.size();
}

}  // namespace

const char* gadgetHelpText() {
  return helpText;
}

bool extractGadgetOptions(int argc, char** argv, GadgetOptions& options, std::vector<char*>& rest,
                          std::string& errorText) {
  rest.clear();
  if (argc > 0) rest.push_back(argv[0]);
  for (int i = 1; i < argc; ++i) {
    std::string_view word = argv[i];
    std::string_view name = word;
    std::optional<std::string_view> value;
    const size_t equals = word.find('=');
    if (word.starts_with("--") && equals != std::string_view::npos) {
      name = word.substr(0, equals);
      value = word.substr(equals + 1);
    }
    const bool ours = name == "--gadget-tty" || name == "--gadget" || name == "--udc" ||
                      name == "--bootloader-pid";
    if (!ours) {
      rest.push_back(argv[i]);
      continue;
    }
    if (!value) {
      if (i + 1 >= argc) {
        errorText = std::string(name) + ": needs a value";
        return false;
      }
      value = std::string_view(argv[++i]);
    }
    if (name == "--bootloader-pid") {
      uint16_t pid = 0;
      if (!parsePid(*value, pid)) {
        errorText = std::string(name) + ": needs a 16-bit hex product ID";
        return false;
      }
      options.bootloaderPid = pid;
      continue;
    }
    if (value->empty()) {
      errorText = std::string(name) + ": needs a value";
      return false;
    }
    if (name == "--gadget-tty") options.tty = std::string(*value);
    if (name == "--gadget") options.gadgetDir = std::string(*value);
    if (name == "--udc") options.udc = std::string(*value);
  }
  if (!options.enabled() &&
      (!options.gadgetDir.empty() || !options.udc.empty() || options.bootloaderPid)) {
    errorText = "the gadget options need --gadget-tty";
    return false;
  }
  if (options.enabled() && options.gadgetDir.empty() &&
      (!options.udc.empty() || options.bootloaderPid)) {
    errorText = "--udc and --bootloader-pid need --gadget";
    return false;
  }
  return true;
}

}  // namespace quarn::sim
