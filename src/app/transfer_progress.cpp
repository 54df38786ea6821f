#include "app/transfer_progress.hpp"

#include <algorithm>
#include <string>

#include "session/messages.hpp"
#include "session/status_reporting.hpp"

namespace quarn {
namespace {

WideText decimal(uint32_t value) {
  const std::string digits = std::to_string(value);
  return WideText(digits.begin(), digits.end());
}

// The lines that tell how the tester took the image: after one of them the session has nothing
// more to say, so the user may come back.
bool isCompletionLine(ReportCode code) {
  return code == ReportCode::programmingComplete || code == ReportCode::g0UpdateFailed ||
         code == ReportCode::crc32CheckFailed;
}

}  // namespace

bool ProgressPostFilter::worthPosting(uint32_t bytesAcknowledged, uint32_t imageLength,
                                      uint64_t nowMs) {
  const bool worth = bytesAcknowledged == 0 || bytesAcknowledged >= imageLength ||
                     nowMs - lastPostMs_ >= progressPostIntervalMs;
  if (worth) lastPostMs_ = nowMs;
  return worth;
}

uint32_t percentOf(const ProgressView& view) {
  return static_cast<uint32_t>(view.completed * 100 / view.total);
}

WideText windowTitleFor(const ProgressView& view) {
  if (!view.titleShowsPercent) return WideText(messages::windowTitle);
  return formatLine(messages::transferTitleFormat, {decimal(percentOf(view))});
}

ProgressView TransferProgress::current() const {
  ProgressView view;
  view.titleShowsPercent = transferring_;
  if (transferring_) {
    view.mark = TaskbarMark::normal;
    // An empty image has nothing left to send: it counts as whole.
    view.total = imageLength_ == 0 ? 1 : imageLength_;
    view.completed = imageLength_ == 0 ? 1 : std::min(acknowledged_, imageLength_);
  }
  if (boxUp_) {
    view.mark = TaskbarMark::error;
    // A box before any block would mark an empty bar, which the taskbar does not show at all.
    if (!transferring_) view.completed = view.total;
  }
  return view;
}

ProgressReaction TransferProgress::redrawIfChanged() {
  const ProgressView view = current();
  if (view == shown_) return {};
  shown_ = view;
  return {.redraw = true};
}

ProgressReaction TransferProgress::blocksAcknowledged(uint32_t bytesAcknowledged,
                                                      uint32_t imageLength) {
  const uint64_t now = clock_.nowMilliseconds();
  const bool starting = bytesAcknowledged == 0 || !transferring_;
  const bool last = bytesAcknowledged >= imageLength;
  transferring_ = true;
  acknowledged_ = bytesAcknowledged;
  imageLength_ = imageLength;
  if (!starting && !last && now - lastRedrawMs_ < progressRedrawIntervalMs) return {};
  const ProgressReaction reaction = redrawIfChanged();
  if (reaction.redraw) lastRedrawMs_ = now;
  return reaction;
}

ProgressReaction TransferProgress::statusLineAdded(ReportCode code) {
  return {.attention = isCompletionLine(code)};
}

ProgressReaction TransferProgress::errorBoxShown() {
  boxUp_ = true;
  ProgressReaction reaction = redrawIfChanged();
  reaction.attention = true;
  return reaction;
}

ProgressReaction TransferProgress::errorBoxDismissed() {
  boxUp_ = false;
  return redrawIfChanged();
}

// Every path of a session ends here, whether it reported success, a box, nothing at all, or lost
// the tester half-way.
ProgressReaction TransferProgress::sessionEnded() {
  transferring_ = false;
  boxUp_ = false;
  acknowledged_ = 0;
  imageLength_ = 0;
  return redrawIfChanged();
}

}  // namespace quarn
