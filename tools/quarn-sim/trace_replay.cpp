#include "trace_replay.hpp"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <memory>

#include "bootloader/wire_protocol.hpp"
#include "cJSON.h"
#include "package/crc32.hpp"

namespace quarn::sim {
namespace {

using std::chrono::microseconds;
using std::chrono::milliseconds;

// When the recorded host opened the bootloader's port at its first try, the tester was back
// before the pause had ended; it is played back after the restart delay a real bootloader
// takes to enumerate (well under a second on a desk).
constexpr milliseconds restartAwayWhenUnseen{800};

struct JsonDeleter {
  void operator()(cJSON* item) const { cJSON_Delete(item); }
};
using Json = std::unique_ptr<cJSON, JsonDeleter>;

std::optional<Bytes> bytesFromHex(const char* text) {
  Bytes bytes;
  const size_t length = std::strlen(text);
  if (length % 2 != 0) return std::nullopt;
  for (size_t i = 0; i < length; i += 2) {
    unsigned value = 0;
    if (std::sscanf(text + i, "%2x", &value) != 1) return std::nullopt;
    bytes.push_back(static_cast<uint8_t>(value));
  }
  return bytes;
}

const char* kindName(ReplayStepKind kind) {
  switch (kind) {
    case ReplayStepKind::bootloader:
      return "the bootloader request";
    case ReplayStepKind::deviceId:
      return "the device-ID request";
    case ReplayStepKind::signature:
      return "the app signature";
    case ReplayStepKind::start:
      return "the start request";
    case ReplayStepKind::block:
      return "block";
  }
  return "?";
}

std::string describe(const RecordedStep& step) {
  // Appended piece by piece: GCC 12 at -O3 takes a chain of + on a string built from a literal
  // for an overlapping copy (-Wrestrict) and the hardened build refuses it.
  std::string text = kindName(step.kind);
  if (step.kind == ReplayStepKind::block) text.append(" ").append(std::to_string(step.block));
  if (step.bytes) return text.append(" ").append(toHex(step.bytes->data(), step.bytes->size()));
  char tail[64];
  std::snprintf(tail, sizeof tail, " (%zu bytes, CRC-32 %08x)", step.length,
                static_cast<unsigned>(step.crc32));
  return text + tail;
}

std::string describeMessage(const Bytes& message) {
  char tail[64];
  buildCrc32Table();
  std::snprintf(tail, sizeof tail, " (%zu bytes, CRC-32 %08x)", message.size(),
                static_cast<unsigned>(computeCrc32(message.data(), message.size())));
  return toHex(message.data(), std::min<size_t>(message.size(), 32)) +
         (message.size() > 32 ? " ..." : "") + tail;
}

bool isAckOf(const Bytes& bytes, size_t offset, uint32_t block) {
  return bytes.size() >= offset + 3 && bytes[offset] == 0x00 &&
         (bytes[offset + 1] | bytes[offset + 2] << 8) == static_cast<int>(block);
}

// The bytes behind the last block's acknowledgements are the completion verdict: the tester may
// send it in the same write as the acknowledgement, or later.
void splitCompletion(ReplayScript& script) {
  auto last = std::find_if(script.steps.rbegin(), script.steps.rend(),
                           [](const RecordedStep& s) { return s.kind == ReplayStepKind::block; });
  if (last == script.steps.rend()) return;
  std::vector<RecordedReply> acks;
  std::optional<RecordedReply> verdict;
  microseconds lastAck{0};
  for (const RecordedReply& reply : last->replies) {
    size_t offset = 0;
    if (!verdict) {
      while (isAckOf(reply.bytes, offset, last->block)) offset += 3;
      if (offset > 0) {
        acks.push_back({reply.after, Bytes(reply.bytes.begin(),
                                           reply.bytes.begin() + static_cast<long>(offset))});
        lastAck = reply.after;
      }
    }
    if (offset == reply.bytes.size()) continue;
    if (!verdict) verdict = RecordedReply{reply.after - lastAck, {}};
    verdict->bytes.insert(verdict->bytes.end(), reply.bytes.begin() + static_cast<long>(offset),
                          reply.bytes.end());
  }
  if (acks.empty()) return;  // never acknowledged: what came is its (wrong) answer, kept as such
  last->replies = std::move(acks);
  script.completion = verdict;
}

}  // namespace

std::optional<std::pair<ReplayStepKind, uint32_t>> classifyHostMessage(const Bytes& message) {
  // The host's own builders say what each message is, so the replay cannot drift from them.
  if (const BootloaderRequest request = makeBootloaderRequest();
      std::equal(message.begin(), message.end(), request.begin(), request.end())) {
    return std::pair{ReplayStepKind::bootloader, 0u};
  }
  if (message.size() == 27 && message[0] == 0xFD) return std::pair{ReplayStepKind::deviceId, 0u};
  if (message.size() == 20 && message[0] == 0xFE) return std::pair{ReplayStepKind::signature, 0u};
  if (const StartRequest start = makeStartRequest();
      std::equal(message.begin(), message.end(), start.begin(), start.end())) {
    return std::pair{ReplayStepKind::start, 0u};
  }
  if (message.size() > 3 && message[0] == 0xFF) {
    return std::pair{ReplayStepKind::block, uint32_t{message[1]} | uint32_t{message[2]} << 8};
  }
  return std::nullopt;
}

std::optional<ReplayScript> loadReplayScript(const std::string& path, std::string& errorText) {
  std::ifstream file(path);
  if (!file) {
    errorText = "cannot read " + path;
    return std::nullopt;
  }
  ReplayScript script;
  std::optional<int64_t> bootloaderAt, closedAfterRequest, lastFailedOpen, reopened;
  std::string text;
  size_t line = 0;
  auto bad = [&](const std::string& why) {
    errorText = path + ":" + std::to_string(line) + ": " + why;
    return std::nullopt;
  };
  int64_t stepStart = 0;
  while (std::getline(file, text)) {
    ++line;
    if (text.empty()) continue;
    const Json event(cJSON_Parse(text.c_str()));
    if (!event || !cJSON_IsObject(event.get())) return bad("not a JSON object");
    if (line == 1) {
      const cJSON* kind = cJSON_GetObjectItemCaseSensitive(event.get(), "trace");
      const cJSON* version = cJSON_GetObjectItemCaseSensitive(event.get(), "version");
      if (!cJSON_IsString(kind) || std::string(kind->valuestring) != "quarn-update" ||
          !cJSON_IsNumber(version) || version->valueint != 1) {
        return bad("not a version 1 quarn-update trace");
      }
      continue;
    }
    const cJSON* name = cJSON_GetObjectItemCaseSensitive(event.get(), "event");
    const cJSON* t = cJSON_GetObjectItemCaseSensitive(event.get(), "t");
    if (!cJSON_IsString(name) || !cJSON_IsNumber(t)) return bad("no event or no t");
    const std::string what = name->valuestring;
    const auto at = static_cast<int64_t>(t->valuedouble);
    const cJSON* hex = cJSON_GetObjectItemCaseSensitive(event.get(), "hex");
    if (what == "tx") {
      RecordedStep step;
      step.line = line;
      if (cJSON_IsString(hex)) {
        const std::optional<Bytes> bytes = bytesFromHex(hex->valuestring);
        const auto kind = bytes ? classifyHostMessage(*bytes) : std::nullopt;
        if (!kind) return bad("a message no host sends");
        step.kind = kind->first;
        step.block = kind->second;
        step.bytes = bytes;
      } else {
        const cJSON* block = cJSON_GetObjectItemCaseSensitive(event.get(), "block");
        const cJSON* length = cJSON_GetObjectItemCaseSensitive(event.get(), "length");
        const cJSON* crc = cJSON_GetObjectItemCaseSensitive(event.get(), "crc32");
        if (!cJSON_IsNumber(block) || !cJSON_IsNumber(length) || !cJSON_IsString(crc)) {
          return bad("a tx without hex nor block, length and crc32");
        }
        step.kind = ReplayStepKind::block;
        step.block = static_cast<uint32_t>(block->valueint);
        step.length = static_cast<size_t>(length->valueint);
        step.crc32 = static_cast<uint32_t>(std::strtoul(crc->valuestring, nullptr, 16));
      }
      const bool resend = !script.steps.empty() && script.steps.back().kind == step.kind &&
                          script.steps.back().block == step.block;
      if (resend) continue;
      stepStart = at;
      if (step.kind == ReplayStepKind::bootloader) bootloaderAt = at;
      script.steps.push_back(std::move(step));
    } else if (what == "rx") {
      const std::optional<Bytes> bytes =
          cJSON_IsString(hex) ? bytesFromHex(hex->valuestring) : std::nullopt;
      if (!bytes) return bad("an rx without hex");
      if (script.steps.empty()) continue;  // the application firmware answers nothing
      script.steps.back().replies.push_back({microseconds(at - stepStart), *bytes});
    } else if (what == "gone") {
      if (!script.steps.empty() && !script.steps.back().goneAfter) {
        script.steps.back().goneAfter = microseconds(at - stepStart);
      }
    } else if (what == "close") {
      if (bootloaderAt && !closedAfterRequest) closedAfterRequest = at;
    } else if (what == "open") {
      if (!closedAfterRequest || reopened) continue;
      const cJSON* ok = cJSON_GetObjectItemCaseSensitive(event.get(), "ok");
      if (cJSON_IsTrue(ok)) {
        reopened = at;
      } else {
        lastFailedOpen = at;
      }
    }
  }
  script.lines = line;
  if (line == 0) return bad("empty");
  if (bootloaderAt && reopened) {
    // Back somewhere between the last opening that failed and the first that worked.
    if (lastFailedOpen) {
      script.restartAway = std::chrono::duration_cast<milliseconds>(
          microseconds((*lastFailedOpen + *reopened) / 2 - *bootloaderAt));
    } else {
      script.restartAway = std::min(
          restartAwayWhenUnseen,
          std::chrono::duration_cast<milliseconds>(microseconds((*reopened - *bootloaderAt) / 2)));
    }
  }
  splitCompletion(script);
  return script;
}

ReplayAnswer ReplayTester::answer(const Bytes& message) {
  ReplayAnswer answer;
  const auto kind = classifyHostMessage(message);
  if (current_ && kind) {
    const RecordedStep& step = script_.steps[*current_];
    if (step.kind == kind->first && step.block == kind->second) return answer;  // a resend
  }
  const size_t next = current_ ? *current_ + 1 : 0;
  if (next >= script_.steps.size()) {
    answer.differs = "trace line " + std::to_string(script_.lines) +
                     ": the recorded session ended; the host sent " + describeMessage(message);
    return answer;
  }
  const RecordedStep& step = script_.steps[next];
  bool same = kind && kind->first == step.kind && kind->second == step.block;
  if (same && step.bytes) {
    same = message == *step.bytes;
  } else if (same) {
    buildCrc32Table();
    same =
        message.size() == step.length && computeCrc32(message.data(), message.size()) == step.crc32;
  }
  if (!same) {
    answer.differs = "trace line " + std::to_string(step.line) + ": expected " + describe(step) +
                     ", the host sent " + describeMessage(message);
    return answer;
  }
  current_ = next;
  answer.replies = step.replies;
  answer.goneAfter = step.goneAfter;
  answer.enteredBootloader = step.kind == ReplayStepKind::bootloader;
  answer.last = next + 1 == script_.steps.size();
  return answer;
}

}  // namespace quarn::sim
