#pragma once
// Every seam of a session faked at once, sharing one event log, for tests that run whole stages.
#include "fakes/fake_devices.hpp"
#include "fakes/memory_package_files.hpp"
#include "fakes/recording_outlets.hpp"
#include "fakes/scripted_port.hpp"
#include "session/session_platform.hpp"

namespace quarn::fakes {

struct FakePlatform {
  EventLog log;
  RecordingOutlets outlets{log};
  FakeDeviceCatalog devices{log};
  FakeClock clock{log};
  ScriptedTester tester;
  ScriptedPortOpener ports{tester, clock, log};
  MemoryPackageFiles files{log};
  SessionPlatform platform{outlets, devices, ports, files, clock};

  // The same, with another device catalog (a real adapter under test, say).
  SessionPlatform with(DeviceCatalog& catalog) {
    return SessionPlatform{outlets, catalog, ports, files, clock};
  }
};

}  // namespace quarn::fakes
