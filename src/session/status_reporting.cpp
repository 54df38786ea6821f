#include "session/status_reporting.hpp"

namespace quarn {

WideText formatLine(WideView format, std::initializer_list<WideView> arguments) {
  WideText line;
  line.reserve(format.size() + 32);
  auto next = arguments.begin();
  for (size_t i = 0; i < format.size(); ++i) {
    if (format[i] == u'%' && i + 1 < format.size()) {
      if (format[i + 1] == u's') {
        if (next != arguments.end()) line += *next++;
        ++i;
        continue;
      }
      if (format[i + 1] == u'%') {
        line += u'%';
        ++i;
        continue;
      }
    }
    line += format[i];
  }
  return line;
}

void addStatusLine(StatusOutlets& outlets, const Message& message) {
  outlets.appendStatusLine(message.code, message.text);
}

void addStatusLineF(StatusOutlets& outlets, const Message& format,
                    std::initializer_list<WideView> arguments) {
  outlets.appendStatusLine(format.code, formatLine(format.text, arguments));
}

void showErrorBox(StatusOutlets& outlets, const Message& message) {
  outlets.showErrorBox(message.code, message.text);
}

}  // namespace quarn
