#include "cli/cli_options.hpp"

#include <algorithm>

namespace quarn::cli {
namespace {

// The options that take a value, each kept in its own member.
struct ValuedOption {
  std::string_view name;
  std::optional<std::string> CliOptions::*member;
};
constexpr ValuedOption valuedOptions[] = {
    {"--port", &CliOptions::port},       {"--package", &CliOptions::packageDirectory},
    {"--serial", &CliOptions::serial},   {"--location", &CliOptions::location},
    {"--trace", &CliOptions::tracePath},
};

ParsedOptions refuse(bool json, std::string why) {
  return ParsedOptions{std::nullopt, std::move(why) + " (see --help)", json};
}

// Combinations that would silently ignore an option are refused: a script that passes one
// expects it to matter.
std::string conflict(const CliOptions& options) {
  const bool picks = options.serial || options.location;
  const char* pick = options.serial ? "--serial" : "--location";
  if (options.mode == CliMode::check && options.port) return "--check touches no port: drop --port";
  if (options.mode == CliMode::check && picks) {
    return std::string("--check touches no tester: drop ") + pick;
  }
  if (options.mode == CliMode::list && options.port) return "--list takes no --port";
  if (options.mode == CliMode::list && options.packageDirectory) return "--list takes no --package";
  if (options.mode != CliMode::update && options.tracePath) return "--trace records an update only";
  if (options.traceFull && !options.tracePath) return "--trace-full needs --trace FILE";
  if (options.mode == CliMode::list && picks) {
    return std::string("--list shows every device: drop ") + pick;
  }
  if (options.port && picks) {
    return std::string("--port names the port itself: drop ") + pick;
  }
  return {};
}

}  // namespace

ParsedOptions parseOptions(std::span<const std::string> arguments) {
  const bool json = std::find(arguments.begin(), arguments.end(), "--json") != arguments.end();
  CliOptions options;
  options.json = json;
  bool modeGiven = false;
  for (size_t i = 0; i < arguments.size(); ++i) {
    std::string name = arguments[i];
    std::optional<std::string> inlineValue;
    if (const size_t equals = name.find('='); name.starts_with("--") && equals != name.npos) {
      inlineValue = name.substr(equals + 1);
      name.resize(equals);
    }
    const bool isFlag = name == "--help" || name == "-h" || name == "--version" ||
                        name == "--check" || name == "--list" || name == "--json" ||
                        name == "--quiet" || name == "--trace-full";
    if (isFlag && inlineValue) return refuse(json, name + " takes no value");
    if (name == "--help" || name == "-h" || name == "--version") {
      options.mode = name == "--version" ? CliMode::version : CliMode::help;
      return ParsedOptions{options, {}, json};
    }
    if (name == "--check" || name == "--list") {
      const CliMode mode = name == "--check" ? CliMode::check : CliMode::list;
      if (modeGiven && options.mode != mode)
        return refuse(json, "--check and --list exclude each other");
      options.mode = mode;
      modeGiven = true;
      continue;
    }
    if (name == "--json") continue;  // already taken
    if (name == "--quiet") {
      options.quiet = true;
      continue;
    }
    if (name == "--trace-full") {
      options.traceFull = true;
      continue;
    }
    std::optional<std::string>* target = nullptr;
    for (const ValuedOption& option : valuedOptions) {
      if (name == option.name) target = &(options.*option.member);
    }
    if (!target) {
      return refuse(json, name.starts_with("-") ? "unknown option '" + arguments[i] + "'"
                                                : "unexpected argument '" + arguments[i] + "'");
    }
    if (*target) return refuse(json, name + " given twice");
    // "--port --json" is a forgotten value, not a port named "--json".
    if (!inlineValue && i + 1 < arguments.size() && !arguments[i + 1].starts_with("--")) {
      inlineValue = arguments[++i];
    }
    if (!inlineValue || inlineValue->empty()) return refuse(json, name + " needs a value");
    *target = std::move(inlineValue);
  }
  if (std::string why = conflict(options); !why.empty()) return refuse(json, std::move(why));
  return ParsedOptions{options, {}, json};
}

}  // namespace quarn::cli
