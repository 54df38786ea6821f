#pragma once
// The two outlets through which a session speaks to the user, plus the PROGRAM button.
// The Windows window, the console and the test recorder each implement this one seam.
#include <cstdint>

#include "bootloader/device_id.hpp"
#include "package/firmware_metadata.hpp"
#include "session/report_code.hpp"
#include "session/text.hpp"

namespace quarn {

class StatusOutlets {
 public:
  virtual ~StatusOutlets() = default;

  // Appends one entry to the status log, exactly as given (embedded newlines included). The code
  // names the report the text belongs to; a face that shows text shows only the text.
  virtual void appendStatusLine(ReportCode code, WideView text) = 0;
  // Shows the modal error box and returns once the user has dismissed it.
  virtual void showErrorBox(ReportCode code, WideView text) = 0;
  virtual void setProgramEnabled(bool enabled) = 0;

  // Progress of the block transfer: 0 bytes when the first block is about to go out, then after
  // every acknowledged block. The console draws its bar from it, the window its taskbar button
  // and title.
  virtual void reportTransferProgress(uint32_t bytesAcknowledged, uint32_t imageLength) {
    (void)bytesAcknowledged;
    (void)imageLength;
  }

  // For a record of which unit received which firmware (the command line's JSON). The package
  // has passed its check: the image and the metadata that will be sent.
  virtual void reportPackageAccepted(uint32_t imageLength, uint32_t imageCrc,
                                     const FirmwareMetadata& metadata) {
    (void)imageLength;
    (void)imageCrc;
    (void)metadata;
  }
  // The tester's device-ID reply has been accepted.
  virtual void reportDeviceId(const DeviceId& deviceId) { (void)deviceId; }

  // The second opening: after the restart pause, while the session waits for the tester to come
  // back as its bootloader, and the device path it was opened by once it is back. Neither is a
  // status-log line; the window shows nothing of them, the command line a note and an event.
  virtual void reportReconnecting() {}
  virtual void reportReconnected(WideView devicePath) { (void)devicePath; }
};

}  // namespace quarn
