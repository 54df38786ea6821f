#include "cli/json_face.hpp"

#include <memory>

#include "cJSON.h"
#include "cli/number_text.hpp"

namespace quarn::cli {
namespace {

struct JsonDeleter {
  void operator()(cJSON* item) const { cJSON_Delete(item); }
};
using Json = std::unique_ptr<cJSON, JsonDeleter>;

struct PrintedDeleter {
  void operator()(char* text) const { cJSON_free(text); }
};

// Texts reach cJSON as UTF-8 that the core has already made valid (a malformed product string
// arrives with U+FFFD in place of its bad bytes), and cJSON escapes quotes and control
// characters, so every line is valid JSON whatever a device or a file holds.
void addText(cJSON* object, const char* name, const std::optional<std::string>& text) {
  if (text) {
    cJSON_AddStringToObject(object, name, text->c_str());
  } else {
    cJSON_AddNullToObject(object, name);
  }
}

Json eventObject(const char* kind) {
  Json object(cJSON_CreateObject());
  cJSON_AddStringToObject(object.get(), "event", kind);
  return object;
}

Json lineObject(const LineEvent& event) {
  Json object = eventObject("line");
  addText(object.get(), "code", std::string(reportCodeName(event.code)));
  addText(object.get(), "text", toUtf8(event.text));
  return object;
}

Json errorObject(const ErrorEvent& event) {
  Json object = eventObject("error");
  addText(object.get(), "code", event.code);
  addText(object.get(), "text", event.text);
  return object;
}

Json progressObject(const ProgressEvent& event) {
  Json object = eventObject("progress");
  cJSON_AddNumberToObject(object.get(), "bytes", event.bytes);
  cJSON_AddNumberToObject(object.get(), "total", event.total);
  return object;
}

std::optional<std::string> hexOrNothing(const std::optional<uint16_t>& value) {
  if (!value) return std::nullopt;
  return hex16(*value);
}

void addDeviceMembers(cJSON* object, const DeviceEvent& event) {
  addText(object, "description", event.description);
  addText(object, "friendlyName", event.friendlyName);
  addText(object, "port", event.port);
  cJSON_AddBoolToObject(object, "tester", event.tester);
  addText(object, "vid", hexOrNothing(event.usb.vendorId));
  addText(object, "pid", hexOrNothing(event.usb.productId));
  addText(object, "serial", event.usb.serialNumber);
  addText(object, "location", event.usb.location);
}

Json deviceObject(const DeviceEvent& event) {
  Json object = eventObject("device");
  addDeviceMembers(object.get(), event);
  return object;
}

// An error like any other, with the testers seen as device objects.
Json candidatesObject(const CandidatesEvent& event) {
  Json object = eventObject("error");
  addText(object.get(), "code", event.code);
  addText(object.get(), "text", event.text);
  cJSON* testers = cJSON_AddArrayToObject(object.get(), "testers");
  for (const DeviceEvent& tester : event.testers) {
    cJSON* item = cJSON_CreateObject();
    addDeviceMembers(item, tester);
    cJSON_AddItemToArray(testers, item);
  }
  return object;
}

Json testerObject(const TesterEvent& event) {
  Json object = eventObject("tester");
  addText(object.get(), "deviceId", event.deviceId);
  addText(object.get(), "port", event.port);
  addText(object.get(), "serial", event.serial);
  addText(object.get(), "location", event.location);
  return object;
}

void addSection(cJSON* metadata, const char* name, int32_t size, uint32_t crc,
                const float* version) {
  cJSON* section = cJSON_AddObjectToObject(metadata, name);
  cJSON_AddNumberToObject(section, "size", size);
  cJSON_AddStringToObject(section, "crc32", hex32(crc).c_str());
  if (version) cJSON_AddNumberToObject(section, "version", shortestDouble(*version));
}

Json packageObject(const PackageEvent& event) {
  Json object = eventObject("package");
  addText(object.get(), "directory", event.directory);
  if (event.imageRead) {
    cJSON* image = cJSON_AddObjectToObject(object.get(), "image");
    cJSON_AddNumberToObject(image, "size", event.imageLength);
    cJSON_AddNumberToObject(image, "bytesRead", event.imageBytesRead);
    cJSON_AddStringToObject(image, "crc32", hex32(event.imageCrc).c_str());
  } else {
    cJSON_AddNullToObject(object.get(), "image");
  }
  if (event.metadataRead) {
    const FirmwareMetadata& m = event.metadata;
    cJSON* metadata = cJSON_AddObjectToObject(object.get(), "metadata");
    addSection(metadata, "QUARN", m.packageSize, m.packageCrc, nullptr);
    cJSON* encryption = cJSON_AddObjectToObject(metadata, "encryption");
    cJSON_AddNumberToObject(encryption, "status", m.encryptionStatus);
    addSection(metadata, "H7", m.h7Size, m.h7Crc, &m.h7Version);
    addSection(metadata, "G0", m.g0Size, m.g0Crc, &m.g0Version);
  } else {
    cJSON_AddNullToObject(object.get(), "metadata");
  }
  return object;
}

// Only the return is an event: the wait itself shows nothing in JSON.
Json reconnectObject(const ReconnectEvent& event) {
  if (!event.back) return Json();
  Json object = eventObject("reconnected");
  addText(object.get(), "port", event.port);
  return object;
}

Json resultObject(const ResultEvent& event) {
  Json object = eventObject("result");
  addText(object.get(), "code", event.code);
  cJSON_AddNumberToObject(object.get(), "exit", event.exit);
  // The closing sentence, where there is one (the version and help texts among them).
  if (!event.summary.empty()) addText(object.get(), "text", event.summary);
  if (event.unit) {
    // The record of the unit: one line per update that a log can collect.
    const UnitRecord& unit = *event.unit;
    cJSON* o = object.get();
    addText(o, "deviceId", unit.deviceId);
    if (unit.packageAccepted) {
      cJSON_AddNumberToObject(o, "size", unit.size);
      cJSON_AddStringToObject(o, "crc32", hex32(unit.crc32).c_str());
      cJSON_AddNumberToObject(o, "h7Version", shortestDouble(unit.h7Version));
      cJSON_AddNumberToObject(o, "g0Version", shortestDouble(unit.g0Version));
    } else {
      for (const char* name : {"size", "crc32", "h7Version", "g0Version"}) {
        cJSON_AddNullToObject(o, name);
      }
    }
    addText(o, "port", unit.port);
    addText(o, "serial", unit.serial);
    addText(o, "location", unit.location);
    cJSON_AddNumberToObject(o, "durationMs", static_cast<double>(unit.durationMs));
    addText(o, "time", unit.time);
    addText(o, "host", unit.host);
  }
  return object;
}

Json toJson(const CliEvent& event) {
  return std::visit(
      [](const auto& e) {
        using Event = std::decay_t<decltype(e)>;
        if constexpr (std::is_same_v<Event, LineEvent>) return lineObject(e);
        if constexpr (std::is_same_v<Event, ErrorEvent>) return errorObject(e);
        if constexpr (std::is_same_v<Event, ProgressEvent>) return progressObject(e);
        if constexpr (std::is_same_v<Event, DeviceEvent>) return deviceObject(e);
        if constexpr (std::is_same_v<Event, CandidatesEvent>) return candidatesObject(e);
        if constexpr (std::is_same_v<Event, TesterEvent>) return testerObject(e);
        if constexpr (std::is_same_v<Event, PackageEvent>) return packageObject(e);
        if constexpr (std::is_same_v<Event, ReconnectEvent>) return reconnectObject(e);
        if constexpr (std::is_same_v<Event, ResultEvent>) return resultObject(e);
      },
      event);
}

}  // namespace

void JsonFace::render(const CliEvent& event) {
  const Json object = toJson(event);
  if (!object) return;
  const std::unique_ptr<char, PrintedDeleter> text(cJSON_PrintUnformatted(object.get()));
  // Out of memory leaves no line rather than half of one.
  if (text) out_.write(std::string(text.get()) + "\n");
}

}  // namespace quarn::cli
