#pragma once
// --help of quarn-update, the same on every system but for what the system words differently.
#include <string>

namespace quarn::cli {

struct HelpFlavour {
  std::string programName;   // "quarn-update"
  std::string portLines;     // what --port takes, indented lines ending in a newline
  std::string interrupting;  // how an update is interrupted on this system
  std::string extraSection;  // appended as it is (test hooks); may be empty
};

std::string helpText(const HelpFlavour& flavour);

}  // namespace quarn::cli
