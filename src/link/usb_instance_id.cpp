#include "link/usb_instance_id.hpp"

#include <vector>

namespace quarn {
namespace {

char16_t upper(char16_t c) {
  return c >= u'a' && c <= u'z' ? char16_t(c - u'a' + u'A') : c;
}

bool equalsIgnoringCase(WideView a, WideView b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    if (upper(a[i]) != upper(b[i])) return false;
  }
  return true;
}

std::vector<WideView> split(WideView text, char16_t separator) {
  std::vector<WideView> parts;
  size_t start = 0;
  for (;;) {
    const size_t end = text.find(separator, start);
    parts.push_back(text.substr(start, end == WideView::npos ? WideView::npos : end - start));
    if (end == WideView::npos) return parts;
    start = end + 1;
  }
}

// "VID_1209" with this name -> 0x1209; exactly four hexadecimal digits.
std::optional<uint16_t> hexField(WideView token, WideView name) {
  if (token.size() != name.size() + 4 || !equalsIgnoringCase(token.substr(0, name.size()), name)) {
    return std::nullopt;
  }
  uint16_t value = 0;
  for (const char16_t c : token.substr(name.size())) {
    const char16_t u = upper(c);
    int digit = 0;
    if (u >= u'0' && u <= u'9') {
      digit = u - u'0';
    } else if (u >= u'A' && u <= u'F') {
      digit = u - u'A' + 10;
    } else {
      return std::nullopt;
    }
    value = static_cast<uint16_t>(value * 16 + digit);
  }
  return value;
}

char lowerAscii(char c) {
  return c >= 'A' && c <= 'Z' ? char(c - 'A' + 'a') : c;
}

}  // namespace

std::optional<UsbInstanceId> parseUsbInstanceId(WideView instanceId) {
  const std::vector<WideView> parts = split(instanceId, u'\\');
  if (parts.size() != 3 || !equalsIgnoringCase(parts[0], u"USB")) return std::nullopt;
  std::optional<uint16_t> vendor;
  std::optional<uint16_t> product;
  UsbInstanceId id;
  for (const WideView token : split(parts[1], u'&')) {
    if (const auto v = hexField(token, u"VID_")) vendor = v;
    if (const auto p = hexField(token, u"PID_")) product = p;
    if (token.size() > 3 && equalsIgnoringCase(token.substr(0, 3), u"MI_")) {
      id.compositeFunction = true;
    }
  }
  if (!vendor || !product) return std::nullopt;
  id.vendorId = *vendor;
  id.productId = *product;
  // A function's last part is made by Windows whether the device has a serial number or not.
  const WideView last = parts[2];
  if (!id.compositeFunction && !last.empty() && last.find(u'&') == WideView::npos) {
    id.lastPartSerial = toUtf8(last);
  }
  return id;
}

bool serialIsInParent(WideView instanceId) {
  const std::optional<UsbInstanceId> id = parseUsbInstanceId(instanceId);
  return id && id->compositeFunction;
}

UsbIdentity usbIdentityFromInstanceIds(WideView instanceId,
                                       std::optional<WideView> parentInstanceId) {
  UsbIdentity identity;
  const std::optional<UsbInstanceId> id = parseUsbInstanceId(instanceId);
  if (!id) return identity;
  identity.vendorId = id->vendorId;
  identity.productId = id->productId;
  if (!id->compositeFunction) {
    identity.serialNumber = id->lastPartSerial;
    return identity;
  }
  if (!parentInstanceId) return identity;
  const std::optional<UsbInstanceId> parent = parseUsbInstanceId(*parentInstanceId);
  if (parent && !parent->compositeFunction && parent->vendorId == id->vendorId &&
      parent->productId == id->productId) {
    identity.serialNumber = parent->lastPartSerial;
  }
  return identity;
}

std::optional<WideText> firstStringOfList(WideView list) {
  const size_t end = list.find(u'\0');
  const WideView first = list.substr(0, end);
  if (first.empty()) return std::nullopt;
  return WideText(first);
}

bool serialNumbersMatch(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    if (lowerAscii(a[i]) != lowerAscii(b[i])) return false;
  }
  return true;
}

}  // namespace quarn
