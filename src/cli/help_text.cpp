#include "cli/help_text.hpp"

#include "cli/exit_codes.hpp"

namespace quarn::cli {

std::string helpText(const HelpFlavour& f) {
  const std::string& p = f.programName;
  return "Usage: " + p + " [--port PORT] [--package DIR] [--json] [--quiet] [--trace FILE]\n" +
         "       " + p + " [--serial SERIAL] [--location LOCATION] [--package DIR] [--json]\n" +
         "       " + std::string(p.size(), ' ') + " [--quiet] [--trace FILE]\n" + "       " + p +
         " --check [--package DIR] [--json] [--quiet]\n" +  //
         "       " + p + " --list [--json] [--quiet]\n" +   //
         "\n"
         "Brings the one connected Zentrika Quarn tester to the firmware package QUARN.bin and\n"
         "metadata.json: checks the package, restarts the tester into its bootloader and sends\n"
         "the image in acknowledged blocks.\n"
         "\n"
         "Options:\n"
         "  --port PORT    use this serial port instead of looking for the tester:\n" +
         f.portLines +
         "  --serial SERIAL\n"
         "                 update the tester with this USB serial number (any letter case)\n"
         "                 among several; --list shows each one's\n"
         "  --location LOCATION\n"
         "                 update the tester at this USB location (as --list shows it);\n"
         "                 with --serial, both must match. No match: exit 3, several: exit\n"
         "                 4, each with the testers seen\n"
         "  --package DIR  take QUARN.bin and metadata.json from DIR; without it they are\n"
         "                 taken from the current directory\n"
         "  --check        read and check the package exactly as an update would, print what\n"
         "                 it holds and touch no serial port; the exit code is the one an\n"
         "                 update would give for it (0: it would go on to program the tester)\n"
         "  --list         list the serial devices the tester search sees: port, VID:PID, USB\n"
         "                 serial number, USB location, description, and whether it counts\n"
         "                 as a tester; exit 0 for exactly one tester, else 3 (none) or 4\n"
         "                 (more than one)\n"
         "  --json         write JSON Lines on standard output instead of text, one object per\n"
         "                 event: \"line\", \"error\", \"progress\" (at most ten a second and the\n"
         "                 last), \"tester\" (its device ID), \"device\" (--list), \"package\"\n"
         "                 (--check); the last line is always {\"event\":\"result\",\"code\":...,\n"
         "                 \"exit\":...}, usage errors and interruptions included; an update's\n"
         "                 also names the unit and the firmware it received\n"
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
