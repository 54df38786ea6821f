#pragma once
// The package files two ways: FakePackageFiles holds them in memory and can misbehave on request
// (held, size unreadable, short read); PackageBench puts real files in a temporary directory and
// runs the package stage on them with a scripted port, so a test sees box and close in order.
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "fakes/event_log.hpp"
#include "fakes/fake_clock.hpp"
#include "fakes/recording_outlets.hpp"
#include "fakes/scripted_port.hpp"
#include "link/device_list.hpp"
#include "package/package_files.hpp"
#include "session/update_session.hpp"

namespace quarn::fakes {

struct FakeFile {
  std::vector<uint8_t> bytes;
  bool held = false;                  // another program has it open: the open fails
  bool sizeUnreadable = false;        // size() gives nullopt
  std::optional<uint32_t> readLimit;  // a short read delivers at most this many bytes
};

// Logs "file-open:<path>", "file-open-failed:<path>", "file-read:<path>:<count>" and
// "file-close:<path>".
class FakePackageFiles : public PackageFileSystem {
 public:
  explicit FakePackageFiles(EventLog& log) : log_(log) {}

  WideText programFilePath() override { return programPath; }
  char16_t pathSeparator() const override { return separator; }
  std::unique_ptr<PackageFile> openForReading(WideView path) override;

  // Adds a file beside the program under this name.
  FakeFile& addFile(WideView name, std::string_view bytes);

  WideText programPath = u"C:\\Quarn\\QuarnUpdater.exe";
  char16_t separator = u'\\';
  std::map<WideText, FakeFile> files;  // by full path
  int openFiles = 0;

 private:
  EventLog& log_;
};

class NoDeviceCatalog : public DeviceCatalog {
 public:
  std::unique_ptr<DeviceList> listPresentPorts() override { return nullptr; }
  WideText devicePathPrefix() const override { return u"\\\\.\\"; }
};

class PackageBench {
 public:
  PackageBench();   // creates an empty temporary directory
  ~PackageBench();  // removes it and empties the package buffers, as the common end would
  PackageBench(const PackageBench&) = delete;
  PackageBench& operator=(const PackageBench&) = delete;

  void writeFile(const std::string& name, std::string_view bytes) const;
  // Opens the tester's port as the earlier stages would, then runs the package stage on the
  // files of the temporary directory (or on the given file system).
  bool load();
  bool load(PackageFileSystem& files);
  // The ordered log shows the box before the port's close, and the port is closed.
  bool boxThenClose(const std::string& box) const;

  std::string directory;
  EventLog log;
  RecordingOutlets outlets{log};
  FakeClock clock{log};
  ScriptedTester tester;
  ScriptedPortOpener ports{tester, clock, log};
  NoDeviceCatalog devices;
  UpdateSession session;
};

}  // namespace quarn::fakes
