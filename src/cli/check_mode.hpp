#pragma once
#include "cli/cli_reporter.hpp"
#include "package/package_files.hpp"
#include "session/clock.hpp"

namespace quarn::cli {

// --check: reads and checks the package with the update's own package stage, reports what it
// found and the verdict, and gives the result an update would have had at that stage (exit 0
// when it would go on to program). No device list is asked for and no port is opened.
ResultEvent runCheck(CliReporter& reporter, PackageFileSystem& files, Clock& clock,
                     std::string directory);

}  // namespace quarn::cli
