#include "cli/console_outlets.hpp"

#include <chrono>
#include <string>

#include "session/messages.hpp"

namespace quarn::cli {
namespace {

uint64_t steadyMilliseconds() {
  return static_cast<uint64_t>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                   std::chrono::steady_clock::now().time_since_epoch())
                                   .count());
}

}  // namespace

ConsoleOutlets::ConsoleOutlets(std::FILE* out, std::FILE* err, bool drawProgress)
    : out_(out), err_(err), drawProgress_(drawProgress) {}

void ConsoleOutlets::clearProgress() {
  if (!progressShown_) return;
  std::fputs("\r\033[K", out_);
  progressShown_ = false;
}

void ConsoleOutlets::appendStatusLine(ReportCode code, WideView text) {
  clearProgress();
  std::fputs(toUtf8(text).c_str(), out_);
  std::fflush(out_);
  lastReport_ = code;
}

void ConsoleOutlets::showErrorBox(ReportCode code, WideView text) {
  clearProgress();
  std::fflush(out_);
  std::string message = toUtf8(messages::errorBoxCaption) + ": " + toUtf8(text);
  if (message.empty() || message.back() != '\n') message += '\n';
  std::fputs(message.c_str(), err_);
  std::fflush(err_);
  lastReport_ = code;
}

void ConsoleOutlets::reportTransferProgress(uint32_t bytesAcknowledged, uint32_t imageLength) {
  if (!drawProgress_) return;
  const uint64_t now = steadyMilliseconds();
  if (bytesAcknowledged == 0) transferStartMs_ = now;
  // A redraw per block would cost more than the block on a fast link: ten a second is plenty.
  const bool finished = bytesAcknowledged >= imageLength;
  if (progressShown_ && !finished && now - lastDrawMs_ < 100) return;
  lastDrawMs_ = now;
  const double fraction =
      imageLength == 0 ? 1.0 : static_cast<double>(bytesAcknowledged) / imageLength;
  const double seconds = static_cast<double>(now - transferStartMs_) / 1000.0;
  const double rate = seconds > 0 ? bytesAcknowledged / seconds / 1024.0 : 0.0;
  constexpr int width = 30;
  const int filled = static_cast<int>(fraction * width);
  std::string bar(static_cast<size_t>(filled), '#');
  bar.append(static_cast<size_t>(width - filled), '.');
  std::fprintf(out_, "\r[%s] %u/%u bytes %3d%% %7.1f KiB/s", bar.c_str(), bytesAcknowledged,
               imageLength, static_cast<int>(fraction * 100.0), rate);
  progressShown_ = true;
  if (finished) {
    std::fputc('\n', out_);
    progressShown_ = false;
  }
  std::fflush(out_);
}

}  // namespace quarn::cli
