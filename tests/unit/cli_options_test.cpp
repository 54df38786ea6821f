#include "cli/cli_options.hpp"

#include <gtest/gtest.h>

#include "cli/exit_codes.hpp"
#include "cli/help_text.hpp"
#include "cli/named_port_catalog.hpp"
#include "cli/package_directory_files.hpp"
#include "fakes/fake_platform.hpp"
#include "link/tester_discovery.hpp"

namespace quarn::cli {
namespace {

CliOptions options(CliMode mode, const char* port = nullptr, const char* package = nullptr,
                   bool json = false, bool quiet = false) {
  CliOptions expected;
  expected.mode = mode;
  if (port) expected.port = port;
  if (package) expected.packageDirectory = package;
  expected.json = json;
  expected.quiet = quiet;
  return expected;
}

CliOptions traced(const char* path, bool full) {
  CliOptions expected = options(CliMode::update);
  expected.tracePath = path;
  expected.traceFull = full;
  return expected;
}

struct OptionsRow {
  std::vector<std::string> arguments;
  std::string error;  // the beginning of the expected error; empty for none
  CliOptions expected;
};

TEST(CliOptions, ParsesOrRefusesEachForm) {
  const CliOptions none = options(CliMode::update);
  const CliOptions noneJson = options(CliMode::update, nullptr, nullptr, true);
  CliOptions picked = noneJson;
  picked.serial = "QRN-0001";
  picked.location = "1-1.2";
  const OptionsRow rows[] = {
      {{}, "", none},
      {{"--port", "/dev/ttyACM0"}, "", options(CliMode::update, "/dev/ttyACM0")},
      {{"--port=COM7", "--package=C:\\fw"}, "", options(CliMode::update, "COM7", "C:\\fw")},
      {{"--package", "fw (rev B)", "--quiet"},
       "",
       options(CliMode::update, nullptr, "fw (rev B)", false, true)},
      {{"--check", "--json", "--package", "fw"}, "", options(CliMode::check, nullptr, "fw", true)},
      {{"--list", "--json", "--quiet"}, "", options(CliMode::list, nullptr, nullptr, true, true)},
      {{"--list", "--list"}, "", options(CliMode::list)},
      {{"--help", "--bogus"}, "", options(CliMode::help)},
      {{"-h"}, "", options(CliMode::help)},
      {{"--version"}, "", options(CliMode::version)},
      {{"--bogus"}, "unknown option '--bogus'", none},
      {{"--json", "stray"}, "unexpected argument 'stray'", noneJson},
      {{"--port"}, "--port needs a value", none},
      {{"--port="}, "--port needs a value", none},
      {{"--port", "--json"}, "--port needs a value", noneJson},
      {{"--port", "a", "--port", "b"}, "--port given twice", none},
      {{"--quiet=yes"}, "--quiet takes no value", none},
      {{"--check", "--list"}, "--check and --list exclude each other", none},
      {{"--check", "--port", "COM7"}, "--check touches no port", none},
      {{"--list", "--port", "COM7"}, "--list takes no --port", none},
      {{"--list", "--package", "fw"}, "--list takes no --package", none},
      {{"--trace", "t.jsonl", "--trace-full"}, "", traced("t.jsonl", true)},
      {{"--trace=t.jsonl"}, "", traced("t.jsonl", false)},
      {{"--check", "--trace", "t.jsonl"}, "--trace records an update only", none},
      {{"--trace-full"}, "--trace-full needs --trace FILE", none},
      {{"--trace"}, "--trace needs a value", none},
      {{"--port", "COM7", "--serial", "QRN-0001"}, "--port names the port itself", none},
      {{"--location=1-1.2", "--port", "COM7"}, "--port names the port itself", none},
      {{"--serial", "QRN-0001", "--serial", "QRN-0002"}, "--serial given twice", none},
      {{"--serial"}, "--serial needs a value", none},
      {{"--location", "--json"}, "--location needs a value", noneJson},
      {{"--check", "--serial", "QRN-0001"}, "--check touches no tester", none},
      {{"--list", "--location", "1-1.2"}, "--list shows every device", none},
      {{"--serial", "QRN-0001", "--location", "1-1.2", "--json"}, "", picked},
  };
  for (const OptionsRow& row : rows) {
    std::string label;
    for (const std::string& a : row.arguments) label += a + " ";
    const ParsedOptions parsed = parseOptions(row.arguments);
    EXPECT_EQ(parsed.json, row.expected.json) << label;
    if (!row.error.empty()) {
      EXPECT_FALSE(parsed.options) << label;
      EXPECT_TRUE(parsed.error.starts_with(row.error)) << label << "-> " << parsed.error;
      continue;
    }
    ASSERT_TRUE(parsed.options) << label << "-> " << parsed.error;
    EXPECT_EQ(parsed.options->mode, row.expected.mode) << label;
    EXPECT_EQ(parsed.options->port, row.expected.port) << label;
    EXPECT_EQ(parsed.options->packageDirectory, row.expected.packageDirectory) << label;
    EXPECT_EQ(parsed.options->quiet, row.expected.quiet) << label;
    EXPECT_EQ(parsed.options->tracePath, row.expected.tracePath) << label;
    EXPECT_EQ(parsed.options->traceFull, row.expected.traceFull) << label;
    EXPECT_EQ(parsed.options->serial, row.expected.serial) << label;
    EXPECT_EQ(parsed.options->location, row.expected.location) << label;
  }
}

// Discovery over the one named port finds it as the tester, under its own name: a prefix given
// with it is not doubled, and parentheses in a path do not cut it.
TEST(NamedPortCatalog, IsDiscoveredAsTheOneTesterUnderItsOwnPath) {
  const struct {
    WideView given;
    WideView prefix;
    const char* devicePath;
  } rows[] = {
      {u"COM7", u"\\\\.\\", "\\\\.\\COM7"},
      {u"\\\\.\\COM7", u"\\\\.\\", "\\\\.\\COM7"},
      {u"/dev/ttyACM0", u"", "/dev/ttyACM0"},
      {u"/tmp/bench (rev B)/tester", u"", "/tmp/bench (rev B)/tester"},
      {u"/tmp/a)b(c", u"", "/tmp/a)b(c"},
  };
  for (const auto& row : rows) {
    fakes::FakePlatform fake;
    NamedPortCatalog catalog(row.given, row.prefix, fake.devices);
    SessionPlatform platform = fake.with(catalog);
    UpdateSession session;
    ASSERT_TRUE(discoverTester(session, platform)) << toUtf8(row.given);
    EXPECT_EQ(toUtf8(session.devicePath), row.devicePath);
    EXPECT_EQ(
        fake.outlets.lines,
        std::vector<std::string>{"Zentrika QUARN on " + toUtf8(catalog.portName()) + " found\n"});
  }
}

// The package code looks beside "the program": in the command line that is the package
// directory, with or without a separator at its end, and nowhere when there is none.
TEST(PackageDirectoryFiles, PlacesTheProgramInsideTheDirectory) {
  fakes::EventLog log;
  fakes::MemoryPackageFiles files(log);
  EXPECT_EQ(PackageDirectoryFiles(files, u"D:\\fw").programFilePath(), u"D:\\fw\\quarn-update");
  EXPECT_EQ(PackageDirectoryFiles(files, u"D:\\fw\\").programFilePath(), u"D:\\fw\\quarn-update");
  EXPECT_EQ(PackageDirectoryFiles(files, u"").programFilePath(), u"");
}

// The manual pages are written from --help: every option and every exit code must be in it.
TEST(HelpText, NamesEveryOptionAndExitCode) {
  const std::string help = helpText(HelpFlavour{"quarn-update", "  PORT\n", "  Ctrl-C\n", ""});
  for (const char* option : {"--port", "--serial", "--location", "--package", "--check", "--list",
                             "--json", "--quiet", "--help", "--version"}) {
    EXPECT_NE(help.find(std::string(option) + " "), std::string::npos) << option;
  }
  for (const int code : {0,  1,  2,  3,  4,  5,  6,  7,  8,  9,  10,
                         11, 12, 13, 14, 15, 16, 17, 18, 19, 20, int{exitInterrupted}}) {
    const std::string number = std::to_string(code);
    const std::string entry = std::string(3 - number.size(), ' ') + number + "  ";
    EXPECT_NE(help.find("\n" + entry), std::string::npos) << code;
  }
}

}  // namespace
}  // namespace quarn::cli
