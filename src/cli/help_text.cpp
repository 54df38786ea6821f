#include "cli/help_text.hpp"

#include "cli/exit_codes.hpp"

namespace quarn::cli {

std::string helpText(const HelpFlavour& f) {
  const std::string& p = f.programName;
  return "Usage: " + p + " [--port PORT] [--package DIR] [--json] [--quiet] [--trace FILE]\n" +
         "       " + p + " --check [--package DIR] [--json] [--quiet]\n" +  //
         "       " + p + " --list [--json] [--quiet]\n" +                   //
         "\n"
         "Brings the one connected Zentrika Quarn tester to the firmware package QUARN.bin and\n"
         "metadata.json: checks the package, restarts the tester into its bootloader and sends\n"
         "the image in acknowledged blocks.\n"
         "\n"
         "Options:\n"
         "  --port PORT    use this serial port instead of looking for the tester:\n" +
         f.portLines +
         "  --package DIR  take QUARN.bin and metadata.json from DIR; without it they are\n"
         "                 taken from the current directory\n"
         "  --check        read and check the package exactly as an update would, print what\n"
         "                 it holds and touch no serial port; the exit code is the one an\n"
         "                 update would give for it (0: it would go on to program the tester)\n"
         "  --list         list the serial devices the tester search sees: port, whether it\n"
         "                 counts as a tester, description; exit 0 for exactly one tester,\n"
         "                 else 3 (none) or 4 (more than one)\n"
         "  --json         write JSON Lines on standard output instead of text, one object per\n"
         "                 event: \"line\", \"error\", \"progress\" (at most ten a second and the\n"
         "                 last), \"device\" (--list), \"package\" (--check); the last line is\n"
         "                 always {\"event\":\"result\",\"code\":...,\"exit\":...}, usage errors "
         "and\n"
         "                 interruptions included\n"
         "  --quiet        show only errors and the final line\n"
         "  --trace FILE   record the update's exchange with the tester in FILE (JSON Lines:\n"
         "                 every opening, write, read and pause with its time); data blocks\n"
         "                 appear as number, length and CRC-32, so no firmware is recorded,\n"
         "                 but the tester's device ID, serial number and port paths are\n"
         "  --trace-full   with --trace: record the data blocks' bytes too\n"
         "  --help         show this text\n"
         "  --version      show the program's version\n"
         "\n"
         "Output: the session's lines go to standard output, errors to standard error; on a\n"
         "terminal a progress bar shows the transfer, then a note while the tester verifies\n"
         "the image (up to a minute).\n"
         "\n"
         "Interrupting:\n" +
         f.interrupting +
         "\n"
         "Exit codes:\n" +
         exitCodeHelp() + f.extraSection;
}

}  // namespace quarn::cli
