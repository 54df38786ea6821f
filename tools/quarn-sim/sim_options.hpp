#pragma once
// Command-line options of the tester simulator: where it publishes its port, what the tester
// answers, and which faults it injects.
#include <array>
#include <cstdint>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <vector>

namespace quarn::sim {

// The steps of the exchange that a fault can target.
enum class Step { bootloader, deviceId, signature, start, block, completion };

// A malformed reply per step; deviceIdStart breaks the start marker instead of the end marker.
enum class Malformed { deviceId, deviceIdStart, signature, start, block, completion };

// A fault that applies to one block index a number of times (0 = every time).
struct BlockFault {
  uint32_t block = 0;
  uint32_t count = 0;
};

struct SimOptions {
  std::string linkPath;
  std::string imageOut;
  std::string logPath;
  std::string replayPath;  // play a recorded session instead of the tester model's answers
  std::array<uint8_t, 12> deviceId{};
  std::optional<uint32_t> vanishMs;
  uint32_t completionDelayMs = 30;
  uint32_t replyDelayMs = 0;
  uint32_t paceBaud = 0;
  bool exitAfterCompletion = false;

  std::set<Step> silentAt;
  std::set<Malformed> malformed;
  std::set<uint64_t> dropReplies;  // 1-based positions among all replies
  std::optional<BlockFault> dropBlockAck;
  std::optional<BlockFault> wrongBlock;
  std::optional<uint16_t> refuseStartWord;
  bool rejectSignature = false;
  std::optional<uint32_t> unplugAtBlock;
  std::optional<Step> unplugAt;  // any step but block, whose index is in unplugAtBlock
  std::optional<uint8_t> completionStatus;

  // The host's USB view (usb_view.hpp); usbViewDir is empty in the pty modes.
  std::string usbViewDir;
  uint32_t testers = 1;
  std::optional<BlockFault> unplugTester;  // block is the block index, count the tester (from 1)
  std::vector<std::string> products;       // tester N's is the Nth, the last standing for the rest
  std::string product = "Zentrika QUARN PD Tester";  // this tester's
  std::optional<std::string> serial;                 // default QA0001, QA0002, ... one per tester
  std::optional<std::string> bootloaderProduct;      // default: the product string
  std::optional<std::string> bootloaderSerial;       // default: the serial number
  uint32_t rootOnlyMs = 0;
  // A slow tester: the first reply of a step (device-id, signature, start) or of block K is held
  // back by the given milliseconds; the line stays in order, so what follows waits behind it.
  std::map<Step, uint32_t> holdReplyMs;
  std::optional<BlockFault> holdBlockAck;  // block = K, count = the milliseconds
  // The completion verdict leaves in the same write as the last acknowledgement.
  bool completionWithAck = false;
};

enum class ParseOutcome { run, help, version, error };

// Fills options from argv; on error, errorText says why.
ParseOutcome parseSimOptions(int argc, char** argv, SimOptions& options, std::string& errorText);

const char* simHelpText();

}  // namespace quarn::sim
