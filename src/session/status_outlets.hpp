#pragma once
// The two outlets through which a session speaks to the user, plus the PROGRAM button.
// The Windows window, the console and the test recorder each implement this one seam.
#include <cstdint>

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
  // A reply wait has lasted slowReplyNoteMs (waiting true), and later that it has ended (false),
  // so a face can say the tester is being waited for. The completion wait has its own note.
  virtual void reportSlowReply(bool waiting) { (void)waiting; }
};

}  // namespace quarn
