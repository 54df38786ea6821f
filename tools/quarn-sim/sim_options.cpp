#include "sim_options.hpp"

#include <charconv>
#include <cstring>
#include <string_view>

namespace quarn::sim {

namespace {

// The default ID holds the bytes a badly configured line would swallow or translate (XON, XOFF,
// CR, LF, the interrupt, end-of-file, suspend and erase characters, NUL, 0xFF), so an updater
// that reads the tester through a cooked port gets a visibly different ID.
constexpr std::string_view defaultDeviceId = "11130D0A03041A7F00FF805A";

const char helpText[] =
    R"(Usage: quarn-sim [OPTIONS]

Plays the tester (application firmware and bootloader) on a pseudo-terminal. Once ready it
prints "ready <slave path>" on stdout; errors and the exit summary go to stderr.

Port and tester:
  --link PATH              publish the pty slave as symlink PATH (re-pointed atomically)
  --device-id HEX          device ID, 24 hex digits, wire order (default 11130D0A03041A7F00FF805A)
  --image-out FILE         write each received image to FILE before the completion check
  --vanish MS              on the bootloader request close the pty and open a new one MS ms later
  --completion HEX         force the completion status byte (00 gives 00 FF, 01 gives 01 FF)
  --completion-delay MS    send the completion reply MS ms after the last reply (default 30)
  --exit-after-completion  exit once the completion reply is sent (0 image good, 1 bad)
  --reply-delay MS         delay every reply by MS ms
  --hold-reply STEP:MS     hold back the first reply of STEP (device-id|signature|start) by MS ms;
                           block:K:MS holds the first acknowledgement of block K (repeatable).
                           Later replies leave behind a held one, as from a busy tester
  --completion-with-ack    send the completion reply in the same write as the last
                           acknowledgement (instead of --completion-delay after it)
  --pace-baud N            every byte received and sent costs 10 bits at N baud
  --log FILE               one line per message received or sent
  --replay FILE            answer as the tester recorded in a quarn-update trace FILE did:
                           its replies at their recorded times from each step's first message,
                           its restart, its silence and its unplugging; exit 1 naming the trace
                           line where the host's first message of a step differs from the record

The host's USB view (instead of --link; the pty modes above stay as they are):
  --usb-view DIR           keep a sysfs tree DIR/sys and a device directory DIR/dev as Linux
                           and udev would, for quarn-update's QUARN_SYSFS_ROOT/QUARN_DEV_ROOT:
                           each tester a USB device at 1-1.2, 1-1.3, ... whose tty ttyACM<n> is a
                           link to its pty, /dev/serial/by-id and by-path links, two ttys that
                           are not USB. On the bootloader request the tty, its node and links go
                           and the host's descriptor is hung up; the bootloader comes back at the
                           same location after --vanish MS (default 800) with the lowest free
                           ttyACM number, the old one counting as taken while any process still
                           holds the old node. Prints "usb-view ready DIR" once the tree stands;
                           --image-out and --log name tester 1's files, FILE.N tester N's
  --testers N              N testers at N locations (default 1)
  --unplug-tester N:K      tester N (from 1) unplugs when block K arrives
  --product TEXT           the USB product string (default "Zentrika QUARN PD Tester"); given
                           again, the next tester's, the last one standing for the rest
  --serial TEXT            the USB serial number (default QA0001, QA0002, ...)
  --bootloader-product T   the bootloader's product string (default the same)
  --bootloader-serial T    the bootloader's serial number (default the same)
  --root-only MS           the bootloader's new node is root-only (0600) for MS ms before it
                           becomes root:dialout 0660 and gets its links (default 0)

Faults (STEP = bootloader|device-id|signature|start|block|completion; K = block index from 0):
  --silent-at STEP         never answer that step (repeatable)
  --no-device-id           same as --silent-at device-id
  --drop-reply N           swallow the Nth reply overall, 1-based (repeatable)
  --drop-block-ack K[:C]   swallow the acknowledgement of block K, C times (default 1)
  --wrong-block K[:C]      acknowledge block K with number K+1, C times (default every time)
  --refuse-start [WORD]    answer the start request with status WORD (default 1)
  --reject-signature       answer the app signature with 00 FF
  --malformed STEP         send a malformed reply (repeatable):
                             device-id        FD + ID + 00 (wrong end marker)
                             device-id-start  FE + ID + FF (wrong start marker)
                             signature        FE 00
                             start            00 00 (too short: the host waits for 3 bytes)
                             block            00 + low byte of the number (too short)
                             completion       FC 00
  --unplug-at STEP[:K]     when that step's message arrives, close the pty, remove the link and
                           exit 0 instead of answering: bootloader (the tester vanishes during
                           the restart pause and never comes back), device-id, signature, start,
                           block:K (when block K arrives), or completion (once the last
                           acknowledgement has been read, instead of the completion reply)
  --unplug-at-block K      same as --unplug-at block:K
  --help                   show this text
  --version                show the simulator's version

Exit status: 0 on SIGINT/SIGTERM, after an unplug or a good image; 1 when the image checked
bad with --exit-after-completion or the host departed from the --replay trace; 2 for a usage
error or a trace that cannot be read; 3 when the pty cannot be set up.
)";

template <typename Number>
bool parseNumber(std::string_view text, Number& value, int base = 10) {
  if (base == 16 && (text.starts_with("0x") || text.starts_with("0X"))) text.remove_prefix(2);
  if (base == 10 && (text.starts_with("0x") || text.starts_with("0X"))) {
    text.remove_prefix(2);
    base = 16;
  }
  if (text.empty()) return false;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value, base);
  return error == std::errc() && end == text.data() + text.size();
}

bool parseHexBytes(std::string_view text, uint8_t* out, size_t count) {
  if (text.size() != 2 * count) return false;
  for (size_t i = 0; i < count; ++i) {
    if (!parseNumber(text.substr(2 * i, 2), out[i], 16)) return false;
  }
  return true;
}

std::optional<Step> parseStep(std::string_view text) {
  if (text == "bootloader") return Step::bootloader;
  if (text == "device-id") return Step::deviceId;
  if (text == "signature") return Step::signature;
  if (text == "start") return Step::start;
  if (text == "block") return Step::block;
  if (text == "completion") return Step::completion;
  return std::nullopt;
}

std::optional<Malformed> parseMalformed(std::string_view text) {
  if (text == "device-id") return Malformed::deviceId;
  if (text == "device-id-start") return Malformed::deviceIdStart;
  if (text == "signature") return Malformed::signature;
  if (text == "start") return Malformed::start;
  if (text == "block") return Malformed::block;
  if (text == "completion") return Malformed::completion;
  return std::nullopt;
}

std::optional<BlockFault> parseBlockFault(std::string_view text, uint32_t defaultCount) {
  BlockFault fault{0, defaultCount};
  const size_t colon = text.find(':');
  if (!parseNumber(text.substr(0, colon), fault.block)) return std::nullopt;
  if (colon != std::string_view::npos) {
    if (!parseNumber(text.substr(colon + 1), fault.count) || fault.count == 0) return std::nullopt;
  }
  return fault;
}

// "block:K", or the name of any other step on its own.
bool parseUnplugPoint(std::string_view text, SimOptions& options) {
  const size_t colon = text.find(':');
  const std::optional<Step> step = parseStep(text.substr(0, colon));
  if (!step) return false;
  if (*step != Step::block) {
    if (colon != std::string_view::npos) return false;
    options.unplugAt = *step;
    return true;
  }
  uint32_t block = 0;
  if (colon == std::string_view::npos || !parseNumber(text.substr(colon + 1), block)) return false;
  options.unplugAtBlock = block;
  return true;
}

// "STEP:MS" for device-id, signature or start, or "block:K:MS".
bool parseHold(std::string_view text, SimOptions& options) {
  const size_t colon = text.find(':');
  if (colon == std::string_view::npos) return false;
  const std::optional<Step> step = parseStep(text.substr(0, colon));
  std::string_view rest = text.substr(colon + 1);
  uint32_t ms = 0;
  if (step == Step::block) {
    const size_t second = rest.find(':');
    uint32_t block = 0;
    if (second == std::string_view::npos || !parseNumber(rest.substr(0, second), block) ||
        !parseNumber(rest.substr(second + 1), ms)) {
      return false;
    }
    options.holdBlockAck = BlockFault{block, ms};
    return true;
  }
  if (step != Step::deviceId && step != Step::signature && step != Step::start) return false;
  if (!parseNumber(rest, ms)) return false;
  options.holdReplyMs[*step] = ms;
  return true;
}

// Walks argv, accepting both "--name value" and "--name=value".
class ArgumentReader {
 public:
  ArgumentReader(int argc, char** argv) : argc_(argc), argv_(argv) {}

  bool next() {
    if (index_ >= argc_) return false;
    std::string_view argument = argv_[index_++];
    inlineValue_.reset();
    const size_t equals = argument.find('=');
    if (argument.starts_with("--") && equals != std::string_view::npos) {
      inlineValue_ = argument.substr(equals + 1);
      argument = argument.substr(0, equals);
    }
    name_ = argument;
    return true;
  }

  std::string_view name() const { return name_; }
  bool hasInlineValue() const { return inlineValue_.has_value(); }

  std::optional<std::string_view> value() {
    if (inlineValue_) return inlineValue_;
    if (index_ >= argc_) return std::nullopt;
    return std::string_view(argv_[index_++]);
  }

  // The value of an option whose value may be left out: the next word counts only when it is
  // not itself an option.
  std::optional<std::string_view> optionalValue() {
    if (inlineValue_) return inlineValue_;
    if (index_ >= argc_ || std::strncmp(argv_[index_], "--", 2) == 0) return std::nullopt;
    return std::string_view(argv_[index_++]);
  }

 private:
  int argc_;
  char** argv_;
  int index_ = 1;
  std::string_view name_;
  std::optional<std::string_view> inlineValue_;
};

}  // namespace

const char* simHelpText() {
  return helpText;
}

ParseOutcome parseSimOptions(int argc, char** argv, SimOptions& options, std::string& errorText) {
  parseHexBytes(defaultDeviceId, options.deviceId.data(), options.deviceId.size());
  ArgumentReader reader(argc, argv);
  auto fail = [&](std::string_view why) {
    errorText = std::string(reader.name()) + ": " + std::string(why);
    return ParseOutcome::error;
  };

  while (reader.next()) {
    const std::string_view name = reader.name();
    auto flag = [&](bool& target) {
      target = true;
      return !reader.hasInlineValue();
    };
    auto milliseconds = [&](uint32_t& target) {
      const auto text = reader.value();
      return text && parseNumber(*text, target);
    };

    if (name == "--help" || name == "-h") return ParseOutcome::help;
    if (name == "--version") return ParseOutcome::version;
    if (name == "--link" || name == "--image-out" || name == "--log" || name == "--replay") {
      const auto text = reader.value();
      if (!text || text->empty()) return fail("needs a path");
      std::string& target = name == "--link"        ? options.linkPath
                            : name == "--image-out" ? options.imageOut
                            : name == "--log"       ? options.logPath
                                                    : options.replayPath;
      target = std::string(*text);
    } else if (name == "--device-id") {
      const auto text = reader.value();
      if (!text || !parseHexBytes(*text, options.deviceId.data(), options.deviceId.size())) {
        return fail("needs 24 hex digits");
      }
    } else if (name == "--vanish") {
      uint32_t delay = 0;
      if (!milliseconds(delay)) return fail("needs milliseconds");
      options.vanishMs = delay;
    } else if (name == "--completion") {
      const auto text = reader.value();
      uint8_t status = 0;
      if (!text || text->size() > 4 || !parseNumber(*text, status, 16)) {
        return fail("needs a hex byte");
      }
      options.completionStatus = status;
    } else if (name == "--completion-delay") {
      if (!milliseconds(options.completionDelayMs)) return fail("needs milliseconds");
    } else if (name == "--reply-delay") {
      if (!milliseconds(options.replyDelayMs)) return fail("needs milliseconds");
    } else if (name == "--pace-baud") {
      const auto text = reader.value();
      if (!text || !parseNumber(*text, options.paceBaud) || options.paceBaud == 0) {
        return fail("needs a baud rate above 0");
      }
    } else if (name == "--hold-reply") {
      const auto text = reader.value();
      if (!text || !parseHold(*text, options)) {
        return fail("needs device-id:MS, signature:MS, start:MS or block:K:MS");
      }
    } else if (name == "--completion-with-ack") {
      if (!flag(options.completionWithAck)) return fail("takes no value");
    } else if (name == "--exit-after-completion") {
      if (!flag(options.exitAfterCompletion)) return fail("takes no value");
    } else if (name == "--reject-signature") {
      if (!flag(options.rejectSignature)) return fail("takes no value");
    } else if (name == "--no-device-id") {
      if (reader.hasInlineValue()) return fail("takes no value");
      options.silentAt.insert(Step::deviceId);
    } else if (name == "--silent-at") {
      const auto text = reader.value();
      const auto step = text ? parseStep(*text) : std::nullopt;
      if (!step) return fail("needs bootloader|device-id|signature|start|block|completion");
      options.silentAt.insert(*step);
    } else if (name == "--malformed") {
      const auto text = reader.value();
      const auto kind = text ? parseMalformed(*text) : std::nullopt;
      if (!kind) return fail("needs device-id|device-id-start|signature|start|block|completion");
      options.malformed.insert(*kind);
    } else if (name == "--drop-reply") {
      const auto text = reader.value();
      uint64_t position = 0;
      if (!text || !parseNumber(*text, position) || position == 0) {
        return fail("needs a reply position from 1");
      }
      options.dropReplies.insert(position);
    } else if (name == "--drop-block-ack" || name == "--wrong-block") {
      const bool drop = name == "--drop-block-ack";
      const auto text = reader.value();
      const auto fault = text ? parseBlockFault(*text, drop ? 1 : 0) : std::nullopt;
      if (!fault) return fail("needs K or K:COUNT (COUNT from 1)");
      (drop ? options.dropBlockAck : options.wrongBlock) = fault;
    } else if (name == "--refuse-start") {
      uint16_t word = 1;
      const auto text = reader.optionalValue();
      if (text && (!parseNumber(*text, word) || word == 0)) {
        return fail("needs a non-zero 16-bit status word");
      }
      options.refuseStartWord = word;
    } else if (name == "--unplug-at") {
      const auto text = reader.value();
      if (!text || !parseUnplugPoint(*text, options)) {
        return fail("needs bootloader|device-id|signature|start|block:K|completion");
      }
    } else if (name == "--unplug-at-block") {
      uint32_t block = 0;
      const auto text = reader.value();
      if (!text || !parseNumber(*text, block)) return fail("needs a block index");
      options.unplugAtBlock = block;
    } else if (name == "--usb-view" || name == "--product" || name == "--serial" ||
               name == "--bootloader-product" || name == "--bootloader-serial") {
      const auto text = reader.value();
      if (!text || text->empty()) return fail("needs a value");
      const std::string value(*text);
      if (name == "--usb-view") options.usbViewDir = value;
      if (name == "--product") options.products.push_back(value);
      if (name == "--serial") options.serial = value;
      if (name == "--bootloader-product") options.bootloaderProduct = value;
      if (name == "--bootloader-serial") options.bootloaderSerial = value;
    } else if (name == "--testers") {
      const auto text = reader.value();
      if (!text || !parseNumber(*text, options.testers) || options.testers == 0 ||
          options.testers > 8) {
        return fail("needs a count from 1 to 8");
      }
    } else if (name == "--unplug-tester") {
      const auto text = reader.value();
      const size_t colon = text ? text->find(':') : std::string_view::npos;
      BlockFault fault;
      if (colon == std::string_view::npos || !parseNumber(text->substr(0, colon), fault.count) ||
          fault.count == 0 || !parseNumber(text->substr(colon + 1), fault.block)) {
        return fail("needs N:K (tester from 1, block index)");
      }
      options.unplugTester = fault;
    } else if (name == "--root-only") {
      if (!milliseconds(options.rootOnlyMs)) return fail("needs milliseconds");
    } else {
      errorText = "unknown option " + std::string(name) + " (see --help)";
      return ParseOutcome::error;
    }
  }
  if (!options.usbViewDir.empty() && !options.linkPath.empty()) {
    errorText = "--usb-view and --link: the USB view publishes its own nodes";
    return ParseOutcome::error;
  }
  return ParseOutcome::run;
}

}  // namespace quarn::sim
