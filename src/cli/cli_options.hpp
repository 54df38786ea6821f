#pragma once
// quarn-update's command line: what the user asked for, or why the arguments make no sense.
#include <optional>
#include <span>
#include <string>

namespace quarn::cli {

enum class CliMode { update, check, list, help, version };

struct CliOptions {
  CliMode mode = CliMode::update;
  std::optional<std::string> port;              // --port, UTF-8 as given
  std::optional<std::string> packageDirectory;  // --package, UTF-8 as given
  // Pick the tester among those discovery counts: its USB serial number (any letter case) and
  // its USB location; both must match when both are given.
  std::optional<std::string> serial;     // --serial
  std::optional<std::string> location;   // --location
  std::optional<std::string> tracePath;  // --trace, UTF-8 as given
  bool traceFull = false;                // --trace-full: blocks' bytes too
  bool json = false;
  bool quiet = false;
};

struct ParsedOptions {
  std::optional<CliOptions> options;  // nothing when the arguments are wrong
  std::string error;                  // why, for the user, when they are
  bool json = false;                  // --json was asked for, so even the error goes out as JSON
};

// The arguments after the program name. Options take "--name VALUE" or "--name=VALUE"; --help
// and --version end the parsing where they stand.
ParsedOptions parseOptions(std::span<const std::string> arguments);

}  // namespace quarn::cli
