#include "cli/human_face.hpp"

#include <cinttypes>
#include <cstdio>
#include <initializer_list>
#include <iterator>

#include "cli/number_text.hpp"
#include "session/messages.hpp"

namespace quarn::cli {
namespace {

template <typename... Values>
std::string formatted(const char* format, Values... values) {
  char buffer[160];
  const int length = std::snprintf(buffer, sizeof buffer, format, values...);
  return std::string(buffer, length < 0 ? 0 : std::min<size_t>(size_t(length), sizeof buffer - 1));
}

std::string progressBar(const ProgressEvent& event, uint64_t startMs) {
  const double fraction = event.total == 0 ? 1.0 : double(event.bytes) / double(event.total);
  const double seconds = double(event.atMs - startMs) / 1000.0;
  const double rate = seconds > 0 ? double(event.bytes) / seconds / 1024.0 : 0.0;
  constexpr int width = 30;
  const auto filled = static_cast<size_t>(fraction * width);
  const std::string bar = std::string(filled, '#') + std::string(width - filled, '.');
  return formatted("[%s] %" PRIu32 "/%" PRIu32 " bytes %3d%% %7.1f KiB/s", bar.c_str(), event.bytes,
                   event.total, static_cast<int>(fraction * 100.0), rate);
}

std::string withNewline(std::string text) {
  if (text.empty() || text.back() != '\n') text += '\n';
  return text;
}

// A row of --list: each column padded to its width, a longer value pushing the rest along
// rather than being cut (a path or a location may be long).
std::string columns(std::initializer_list<std::string> values) {
  static constexpr size_t widths[] = {6, 14, 9, 12, 10};
  std::string row;
  size_t column = 0;
  for (const std::string& value : values) {
    row += value;
    if (column < std::size(widths)) {
      row.append(value.size() < widths[column] ? widths[column] - value.size() : 0, ' ');
      row += "  ";
    }
    ++column;
  }
  return row + "\n";
}

}  // namespace

HumanFace::HumanFace(OutputStream& out, OutputStream& err, std::string programName)
    : out_(out), err_(err), programName_(std::move(programName)), onTerminal_(out.isTerminal()) {}

void HumanFace::clearTransient() {
  if (transientWidth_ == 0) return;
  std::string blank(transientWidth_ + 2, ' ');
  blank.front() = '\r';
  blank.back() = '\r';
  out_.write(blank);
  transientWidth_ = 0;
}

void HumanFace::show(OutputStream& stream, const std::string& text) {
  clearTransient();
  stream.write(text);
}

void HumanFace::showTransient(const std::string& text) {
  // Written over the old one in one piece; padding covers a longer old text.
  std::string line(1, '\r');
  line.append(text);
  if (text.size() < transientWidth_) line.append(transientWidth_ - text.size(), ' ');
  out_.write(line);
  transientWidth_ = std::max(text.size(), transientWidth_);
}

void HumanFace::renderLine(const LineEvent& event) {
  show(out_, toUtf8(event.text));
}

void HumanFace::renderError(const ErrorEvent& event) {
  const std::string prefix = event.source == ErrorEvent::Source::session
                                 ? toUtf8(messages::errorBoxCaption) + ": "
                                 : programName_ + ": ";
  show(err_, withNewline(prefix + event.text));
}

// Only on a terminal: in a file or a pipe a redrawn bar would be a heap of carriage returns.
void HumanFace::renderProgress(const ProgressEvent& event) {
  if (!onTerminal_) return;
  if (event.bytes == 0) transferStartMs_ = event.atMs;
  const std::string bar = progressBar(event, transferStartMs_);
  if (event.bytes < event.total) {
    showTransient(bar);
    return;
  }
  // The whole image is out: the bar stays as the transfer's record, and the wait for the
  // tester's verdict (which may take many seconds) says what is going on meanwhile.
  showTransient(bar);
  transientWidth_ = 0;
  out_.write("\n");
  showTransient(std::string(awaitingVerdictText));
}

// One device a row, the same for --list and for the testers an error names.
std::string HumanFace::deviceRow(const DeviceEvent& event) {
  const std::string description =
      event.description.value_or(event.friendlyName.value_or("(no description)"));
  const std::string usbId = event.usb.vendorId && event.usb.productId
                                ? hex16(*event.usb.vendorId) + ":" + hex16(*event.usb.productId)
                                : "-";
  return columns({event.tester ? "tester" : "-", event.port.value_or("(no port)"), usbId,
                  event.usb.serialNumber.value_or("-"), event.usb.location.value_or("-"),
                  description});
}

void HumanFace::renderDevice(const DeviceEvent& event) {
  std::string text;
  if (!deviceHeaderShown_) {
    text = columns({"", "port", "vid:pid", "serial", "location", "description"});
    deviceHeaderShown_ = true;
  }
  show(out_, text + deviceRow(event));
}

void HumanFace::renderCandidates(const CandidatesEvent& event) {
  std::string text = programName_ + ": " + event.text + "\n";
  for (const DeviceEvent& tester : event.testers) text += "  " + deviceRow(tester);
  show(err_, text);
}

void HumanFace::renderTester(const TesterEvent& event) {
  show(out_, "tester " + event.deviceId + "\n");
}

void HumanFace::renderPackage(const PackageEvent& event) {
  std::string text = "package in " + event.directory + "\n";
  if (event.imageRead) {
    text += formatted("QUARN.bin      %" PRIu32 " bytes, CRC-32 %s", event.imageLength,
                      hex32(event.imageCrc).c_str());
    if (event.imageBytesRead != event.imageLength) {
      text += formatted(" (of %" PRIu32 " bytes read)", event.imageBytesRead);
    }
    text += "\n";
  }
  if (event.metadataRead) {
    const FirmwareMetadata& m = event.metadata;
    text += formatted("metadata.json  QUARN       size %" PRId32 ", crc32 %s\n", m.packageSize,
                      hex32(m.packageCrc).c_str());
    text += formatted("               encryption  status %" PRId32 "\n", m.encryptionStatus);
    text += formatted("               H7          size %" PRId32 ", crc32 %s, version %s\n",
                      m.h7Size, hex32(m.h7Crc).c_str(), shortestText(m.h7Version).c_str());
    text += formatted("               G0          size %" PRId32 ", crc32 %s, version %s\n",
                      m.g0Size, hex32(m.g0Crc).c_str(), shortestText(m.g0Version).c_str());
  }
  show(out_, text);
}

// Only on a terminal, like the bar: the note stands until the tester is open again, and goes.
void HumanFace::renderReconnect(const ReconnectEvent& event) {
  if (!onTerminal_) return;
  if (event.back) {
    clearTransient();
  } else {
    showTransient(std::string(awaitingBootloaderText));
  }
}

void HumanFace::renderResult(const ResultEvent& event) {
  if (event.summary.empty()) {
    clearTransient();
    return;
  }
  show(out_, withNewline(event.summary));
}

void HumanFace::render(const CliEvent& event) {
  std::visit(
      [this](const auto& e) {
        using Event = std::decay_t<decltype(e)>;
        if constexpr (std::is_same_v<Event, LineEvent>) renderLine(e);
        if constexpr (std::is_same_v<Event, ErrorEvent>) renderError(e);
        if constexpr (std::is_same_v<Event, ProgressEvent>) renderProgress(e);
        if constexpr (std::is_same_v<Event, DeviceEvent>) renderDevice(e);
        if constexpr (std::is_same_v<Event, CandidatesEvent>) renderCandidates(e);
        if constexpr (std::is_same_v<Event, TesterEvent>) renderTester(e);
        if constexpr (std::is_same_v<Event, PackageEvent>) renderPackage(e);
        if constexpr (std::is_same_v<Event, ReconnectEvent>) renderReconnect(e);
        if constexpr (std::is_same_v<Event, ResultEvent>) renderResult(e);
      },
      event);
}

}  // namespace quarn::cli
