#pragma once
// Everything a session reaches outside the core, bundled for the worker.
#include "link/device_list.hpp"
#include "link/serial_port.hpp"
#include "package/package_files.hpp"
#include "session/clock.hpp"
#include "session/status_outlets.hpp"

namespace quarn {

struct SessionPlatform {
  StatusOutlets& outlets;
  DeviceCatalog& devices;
  PortOpener& ports;
  PackageFileSystem& files;
  Clock& clock;
};

}  // namespace quarn
