#pragma once
#include "cli/cli_reporter.hpp"
#include "link/device_list.hpp"

namespace quarn::cli {

// --list: every serial device of the platform's list, with what discovery makes of it; the
// result is the one discovery would come to (exactly one tester, none, or too many).
ResultEvent runList(CliReporter& reporter, DeviceCatalog& devices);

}  // namespace quarn::cli
