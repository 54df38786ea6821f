#pragma once
// What the main window shows of a session beyond its status log: the taskbar button's progress
// and the percentage in the title. Fed with the outlets' transfer-progress calls and the session's
// events, it decides what is shown and when; the Windows side only maps its view onto the taskbar
// and the title. Kept free of any platform header so that it is tested natively.
#include <cstdint>

#include "session/clock.hpp"
#include "session/report_code.hpp"
#include "session/text.hpp"

namespace quarn {

// At most this often a second the view follows the acknowledged bytes; the last block is always
// shown. Both outlets are for the eye, and a redraw per block (hundreds a second at the tester's
// line rate) would only cost the window's thread.
inline constexpr uint64_t progressRedrawIntervalMs = 100;

enum class TaskbarMark : uint8_t { none, normal, error };

struct ProgressView {
  TaskbarMark mark = TaskbarMark::none;
  // The bar's fraction, completed of total; total is never 0.
  uint64_t completed = 0;
  uint64_t total = 1;
  // The title carries the acknowledged percentage from the first block until the session ends.
  bool titleShowsPercent = false;

  friend bool operator==(const ProgressView&, const ProgressView&) = default;
};

// Rounded down, so that 100 appears only once every byte is acknowledged.
uint32_t percentOf(const ProgressView& view);
// "NN% - Quarn Firmware Updater" while blocks go out, the plain title otherwise.
WideText windowTitleFor(const ProgressView& view);

struct ProgressReaction {
  bool redraw = false;     // the view changed: show it
  bool attention = false;  // ask for the user's attention if they are not looking at the window
};

// Decides, on the worker's side, which progress calls are worth a message to the window: the
// start, the last block, and otherwise one every progressPostIntervalMs, twice as often as the
// window redraws. A block is acknowledged every few milliseconds at the tester's line rate (far
// more often on a fast link); a message for each wakes the window's thread for nothing and, under
// Wine, costs more than the block itself (a post and its fetch are server round trips).
inline constexpr uint64_t progressPostIntervalMs = progressRedrawIntervalMs / 2;

class ProgressPostFilter {
 public:
  bool worthPosting(uint32_t bytesAcknowledged, uint32_t imageLength, uint64_t nowMs);

 private:
  uint64_t lastPostMs_ = 0;
};

class TransferProgress {
 public:
  explicit TransferProgress(Clock& clock) : clock_(clock) {}

  // A call with 0 bytes starts a transfer; the others follow its acknowledgements.
  ProgressReaction blocksAcknowledged(uint32_t bytesAcknowledged, uint32_t imageLength);
  // The completion lines end a transfer's story and ask for attention; other lines change nothing.
  ProgressReaction statusLineAdded(ReportCode code);
  ProgressReaction errorBoxShown();
  ProgressReaction errorBoxDismissed();
  ProgressReaction sessionEnded();

  // What was last asked to be drawn: for a taskbar that appears only now.
  const ProgressView& shown() const { return shown_; }

 private:
  ProgressView current() const;
  ProgressReaction redrawIfChanged();

  Clock& clock_;
  bool transferring_ = false;
  bool boxUp_ = false;
  uint32_t acknowledged_ = 0;
  uint32_t imageLength_ = 0;
  uint64_t lastRedrawMs_ = 0;
  ProgressView shown_;
};

}  // namespace quarn
