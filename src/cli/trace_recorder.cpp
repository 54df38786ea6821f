#include "cli/trace_recorder.hpp"

#include <cstdio>

#include "bootloader/wire_protocol.hpp"
#include "cJSON.h"
#include "package/crc32.hpp"

namespace quarn::cli {
namespace {

std::string hexOf(std::span<const uint8_t> bytes) {
  static constexpr char digits[] = "0123456789abcdef";
  std::string text;
  text.reserve(bytes.size() * 2);
  for (const uint8_t byte : bytes) {
    text.push_back(digits[byte >> 4]);
    text.push_back(digits[byte & 0x0F]);
  }
  return text;
}

std::string crcText(uint32_t crc) {
  char text[9];
  std::snprintf(text, sizeof text, "%08x", static_cast<unsigned>(crc));
  return text;
}

void addOptionalText(cJSON* object, const char* name, const std::optional<std::string>& text) {
  if (text) {
    cJSON_AddStringToObject(object, name, text->c_str());
  } else {
    cJSON_AddNullToObject(object, name);
  }
}

bool isStartRequest(std::span<const uint8_t> bytes) {
  const StartRequest start = makeStartRequest();
  return bytes.size() == start.size() && std::equal(bytes.begin(), bytes.end(), start.begin());
}

}  // namespace

struct TraceRecorder::Line {
  cJSON* object;
  ~Line() { cJSON_Delete(object); }
};

TraceRecorder::TraceRecorder(TraceSink& sink, Clock& clock, bool fullBlocks,
                             const TraceHeader& header)
    : sink_(sink), clock_(clock), fullBlocks_(fullBlocks), startUs_(clock.nowMicroseconds()) {
  buildCrc32Table();  // the table the package check uses: the same values whoever builds it
  Line line{cJSON_CreateObject()};
  cJSON_AddStringToObject(line.object, "trace", "quarn-update");
  cJSON_AddNumberToObject(line.object, "version", 1);
  cJSON_AddStringToObject(line.object, "program", header.program.c_str());
  cJSON_AddStringToObject(line.object, "os", header.os.c_str());
  cJSON_AddStringToObject(line.object, "started", header.started.c_str());
  finish(line);
}

TraceRecorder::Line TraceRecorder::begin(const char* event) {
  Line line{cJSON_CreateObject()};
  // Microseconds fit a double exactly for far longer than any session lasts.
  cJSON_AddNumberToObject(line.object, "t",
                          static_cast<double>(clock_.nowMicroseconds() - startUs_));
  cJSON_AddStringToObject(line.object, "event", event);
  return line;
}

void TraceRecorder::finish(Line& line) {
  char* text = cJSON_PrintUnformatted(line.object);
  if (!text) return;
  std::string withNewline(text);
  cJSON_free(text);
  withNewline.push_back('\n');
  sink_.writeLine(withNewline);
}

void TraceRecorder::opened(std::string_view path) {
  Line line = begin("open");
  cJSON_AddStringToObject(line.object, "path", std::string(path).c_str());
  cJSON_AddBoolToObject(line.object, "ok", true);
  finish(line);
  transferOpen_ = false;  // a new port: the bootloader starts afresh
}

void TraceRecorder::openFailed(std::string_view path, std::string_view error) {
  Line line = begin("open");
  cJSON_AddStringToObject(line.object, "path", std::string(path).c_str());
  cJSON_AddBoolToObject(line.object, "ok", false);
  cJSON_AddStringToObject(line.object, "error", std::string(error).c_str());
  finish(line);
}

void TraceRecorder::configured(bool ok) {
  Line line = begin("configure");
  cJSON_AddBoolToObject(line.object, "ok", ok);
  finish(line);
}

// The lines of the transfer carry only numbers and hex digits, nothing to escape: they are
// written directly, so a trace costs a block no more than the write of its two lines.
void TraceRecorder::sent(std::span<const uint8_t> bytes) {
  std::string line = "{\"t\":" + std::to_string(clock_.nowMicroseconds() - startUs_);
  if (transferOpen_ && bytes.size() > blockHeaderLength && !fullBlocks_) {
    const unsigned block = bytes[1] | (unsigned{bytes[2]} << 8);
    line.append(",\"event\":\"tx\",\"block\":").append(std::to_string(block));
    line.append(",\"length\":").append(std::to_string(bytes.size()));
    line.append(",\"crc32\":\"").append(crcText(computeCrc32(bytes.data(), bytes.size())));
    line.append("\"}\n");
  } else {
    line.append(",\"event\":\"tx\",\"hex\":\"").append(hexOf(bytes)).append("\"}\n");
  }
  sink_.writeLine(line);
  if (isStartRequest(bytes)) transferOpen_ = true;
}

void TraceRecorder::received(std::span<const uint8_t> bytes) {
  if (bytes.empty()) return;
  std::string line = "{\"t\":" + std::to_string(clock_.nowMicroseconds() - startUs_);
  line.append(",\"event\":\"rx\",\"hex\":\"").append(hexOf(bytes)).append("\"}\n");
  sink_.writeLine(line);
}

void TraceRecorder::paused(uint32_t milliseconds) {
  Line line = begin("pause");
  cJSON_AddNumberToObject(line.object, "ms", milliseconds);
  finish(line);
}

void TraceRecorder::gone() {
  Line line = begin("gone");
  finish(line);
}

void TraceRecorder::closed() {
  Line line = begin("close");
  finish(line);
}

void TraceRecorder::tester(std::string_view deviceIdHex, const std::optional<std::string>& port,
                           const std::optional<std::string>& serial,
                           const std::optional<std::string>& location) {
  Line line = begin("tester");
  cJSON_AddStringToObject(line.object, "deviceId", std::string(deviceIdHex).c_str());
  addOptionalText(line.object, "port", port);
  addOptionalText(line.object, "serial", serial);
  addOptionalText(line.object, "location", location);
  finish(line);
}

void TraceRecorder::result(std::string_view code, int exit) {
  Line line = begin("result");
  cJSON_AddStringToObject(line.object, "code", std::string(code).c_str());
  cJSON_AddNumberToObject(line.object, "exit", exit);
  finish(line);
}

}  // namespace quarn::cli
