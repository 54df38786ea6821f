// quarn-wine-driver: plays the user of the updater's window under Wine and writes down what the
// user would see, for the scenario runner to compare.
//
//   quarn-wine-driver <output file> [--sessions N] [--handshake DIR] [--timeout SECONDS] [--exit]
//                     [--watch-caption] [--leave-at-percent P]
//                     [--times FILE] [--figures FILE] [--exit-during MS]
//
// It waits for the main window, records the status log as shown at start-up, then presses
// PROGRAM N times, each time waiting for the session to end. Every error box of a session is
// read, checked (caption, owner, OK only, no icon, main window and PROGRAM disabled while it is
// up) and dismissed with OK. With --handshake, between two sessions it creates DIR\between-K and
// waits for DIR\go-K, so that the runner can change the scene (files, tester) in between.
// --exit presses Exit at the end. --watch-caption reads the window's title all through each
// session: it must be the plain title before the press, show only rising percentages while blocks
// go out (at least three of them), and be plain again soon after the end. --leave-at-percent P
// stops following the first session once the title shows P % or more, and leaves the program
// running (for a screenshot mid-transfer). --times writes each session's length (PROGRAM press to
// PROGRAM enabled) to FILE, one "session K: MS ms" line each. --figures writes the program's
// handle count, thread count and resident memory to FILE at start-up and after each session, once
// its worker thread has ended. --exit-during presses Exit MS ms after the last session's PROGRAM
// press, without waiting for the session to end. Output (UTF-8, one fact per line, "\n" etc.
// escaped):
//   start               line: <text>            (lines of the status log at start-up)
//   session K           line: <text> / box: <text> / box fault: <what>   in the order seen
//   end K: PROGRAM enabled | timeout: PROGRAM still disabled | left at <P>%
//   exit pressed during session K
//   caption: 3 or more rising percentages, then the plain title | caption fault: <what>
// The percentages each session showed go to standard error.
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <optional>
#include <string>
#include <vector>

#include "process_figures.hpp"

namespace {

constexpr int programButtonId = 1001;
constexpr int exitButtonId = 1002;
constexpr int statusLogId = 1005;
constexpr int messageTextId = 0xFFFF;  // the text of a message box
const std::wstring errorCaption = L"Quarn Updater: Error";
const std::wstring plainTitle = L"Quarn Firmware Updater";
const std::wstring percentTitleTail = L"% - Quarn Firmware Updater";
// The window gives its plain title back once it has served the session's end, which it may do
// just after PROGRAM is enabled again.
constexpr DWORD plainTitleBoundMs = 5000;
constexpr size_t fewestPercentages = 3;

FILE* output = nullptr;

std::string escaped(const std::wstring& text) {
  std::string out;
  for (const wchar_t c : text) {
    if (c == L'\\') {
      out += "\\\\";
    } else if (c == L'\n') {
      out += "\\n";
    } else if (c == L'\r') {
      out += "\\r";
    } else if (c == L'\t') {
      out += "\\t";
    } else if (c < 0x20) {
      char hex[8];
      std::snprintf(hex, sizeof hex, "\\x%02X", static_cast<unsigned>(c));
      out += hex;
    } else {
      char bytes[8];
      const int n = WideCharToMultiByte(CP_UTF8, 0, &c, 1, bytes, sizeof bytes, nullptr, nullptr);
      out.append(bytes, static_cast<size_t>(n > 0 ? n : 0));
    }
  }
  return out;
}

void emit(const std::string& fact) {
  std::fprintf(output, "%s\n", fact.c_str());
  std::fflush(output);
}

// The text is read into a buffer that must end with room to spare: asking for the length first
// and then for the text races with a title that the program changes in between (a longer
// percentage arrives truncated), so a full buffer is taken as a sign to read again, larger.
std::wstring windowText(HWND window) {
  for (size_t capacity = 256;; capacity *= 2) {
    std::wstring text(capacity, L'\0');
    const auto copied =
        SendMessageW(window, WM_GETTEXT, text.size(), reinterpret_cast<LPARAM>(text.data()));
    if (static_cast<size_t>(copied) + 1 < capacity) {
      text.resize(static_cast<size_t>(copied));
      return text;
    }
  }
}

std::wstring className(HWND window) {
  wchar_t name[64] = {};
  GetClassNameW(window, name, 64);
  return name;
}

std::vector<std::wstring> statusLines(HWND mainWindow) {
  HWND log = GetDlgItem(mainWindow, statusLogId);
  std::vector<std::wstring> lines;
  const auto count = SendMessageW(log, LB_GETCOUNT, 0, 0);
  for (LRESULT i = 0; i < count; ++i) {
    const auto length = SendMessageW(log, LB_GETTEXTLEN, static_cast<WPARAM>(i), 0);
    std::wstring line(static_cast<size_t>(length < 0 ? 0 : length) + 1, L'\0');
    const auto copied = SendMessageW(log, LB_GETTEXT, static_cast<WPARAM>(i),
                                     reinterpret_cast<LPARAM>(line.data()));
    line.resize(static_cast<size_t>(copied < 0 ? 0 : copied));
    lines.push_back(line);
  }
  return lines;
}

// Prints the status-log lines that appeared since the last call.
void emitNewLines(HWND mainWindow, size_t& linesSeen) {
  const std::vector<std::wstring> lines = statusLines(mainWindow);
  for (; linesSeen < lines.size(); ++linesSeen) emit("line: " + escaped(lines[linesSeen]));
}

struct BoxSearch {
  HWND owner;
  HWND box;
};

BOOL CALLBACK findBoxOf(HWND window, LPARAM parameter) {
  auto* search = reinterpret_cast<BoxSearch*>(parameter);
  if (IsWindowVisible(window) && className(window) == L"#32770" &&
      GetWindow(window, GW_OWNER) == search->owner) {
    search->box = window;
    return FALSE;
  }
  return TRUE;
}

HWND findErrorBox(HWND mainWindow) {
  BoxSearch search{mainWindow, nullptr};
  EnumWindows(findBoxOf, reinterpret_cast<LPARAM>(&search));
  return search.box;
}

struct BoxControls {
  std::vector<int> buttonIds;
  bool hasIcon = false;
};

BOOL CALLBACK collectControl(HWND control, LPARAM parameter) {
  auto* controls = reinterpret_cast<BoxControls*>(parameter);
  const std::wstring name = className(control);
  const auto style = static_cast<DWORD>(GetWindowLongPtrW(control, GWL_STYLE));
  if (name == L"Button" && IsWindowVisible(control)) {
    controls->buttonIds.push_back(GetDlgCtrlID(control));
  }
  // The dialog may keep an empty icon control hidden; an icon is one that is shown.
  if (name == L"Static" && (style & SS_TYPEMASK) == SS_ICON && IsWindowVisible(control) &&
      SendMessageW(control, STM_GETICON, 0, 0) != 0) {
    controls->hasIcon = true;
  }
  return TRUE;
}

// Reads the box, reports whatever differs from the updater's one kind of error box, presses OK
// and waits until the box has gone.
void handleErrorBox(HWND mainWindow, HWND box) {
  emit("box: " + escaped(windowText(GetDlgItem(box, messageTextId))));
  const std::wstring caption = windowText(box);
  if (caption != errorCaption) emit("box fault: caption \"" + escaped(caption) + "\"");
  BoxControls controls;
  EnumChildWindows(box, collectControl, reinterpret_cast<LPARAM>(&controls));
  if (controls.buttonIds != std::vector<int>{IDOK}) {
    std::string fact = "box fault: buttons";
    for (const int id : controls.buttonIds) fact.append(" ").append(std::to_string(id));
    emit(fact);
  }
  if (controls.hasIcon) emit("box fault: icon");
  if (IsWindowEnabled(mainWindow)) emit("box fault: main window takes input while the box is up");
  if (IsWindowEnabled(GetDlgItem(mainWindow, programButtonId))) {
    emit("box fault: PROGRAM enabled while the box is up");
  }
  SendMessageW(box, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0);
  for (int i = 0; i < 500 && IsWindow(box) && IsWindowVisible(box); ++i) Sleep(10);
  if (IsWindow(box) && IsWindowVisible(box)) emit("box fault: OK did not close it");
}

// The percentage of "NN% - Quarn Firmware Updater", -1 for the plain title, -2 for anything else.
int titlePercent(const std::wstring& title) {
  if (title == plainTitle) return -1;
  if (title.size() <= percentTitleTail.size() || title.size() > percentTitleTail.size() + 3 ||
      title.compare(title.size() - percentTitleTail.size(), std::wstring::npos, percentTitleTail) !=
          0) {
    return -2;
  }
  int percent = 0;
  for (size_t i = 0; i < title.size() - percentTitleTail.size(); ++i) {
    if (title[i] < L'0' || title[i] > L'9') return -2;
    percent = percent * 10 + (title[i] - L'0');
  }
  return percent <= 100 ? percent : -2;
}

// What the title showed during one session, read as often as the session is polled.
class CaptionWatch {
 public:
  void read(HWND mainWindow) {
    const std::wstring title = windowText(mainWindow);
    if (title == last_) return;
    last_ = title;
    const int percent = titlePercent(title);
    if (percent == -2) {
      faults_.push_back("unexpected title \"" + escaped(title) + "\"");
    } else if (percent >= 0 && !percentages_.empty() && percent < percentages_.back()) {
      faults_.push_back("percentage fell from " + std::to_string(percentages_.back()) + " to " +
                        std::to_string(percent));
    } else if (percent >= 0 && (percentages_.empty() || percent > percentages_.back())) {
      percentages_.push_back(percent);
    }
  }
  int highest() const { return percentages_.empty() ? -1 : percentages_.back(); }

  // After the end: waits for the plain title, then says what the session showed.
  void finish(HWND mainWindow, int number) {
    const ULONGLONG deadline = GetTickCount64() + plainTitleBoundMs;
    for (;;) {
      read(mainWindow);
      if (last_ == plainTitle || GetTickCount64() >= deadline) break;
      Sleep(20);
    }
    if (last_ != plainTitle) faults_.push_back("still \"" + escaped(last_) + "\" after the end");
    if (percentages_.size() < fewestPercentages) {
      faults_.push_back("only " + std::to_string(percentages_.size()) + " rising percentages");
    }
    std::fprintf(stderr, "session %d percentages:", number);
    for (const int percent : percentages_) std::fprintf(stderr, " %d", percent);
    std::fprintf(stderr, "\n");
    if (faults_.empty()) emit("caption: 3 or more rising percentages, then the plain title");
    for (const std::string& fault : faults_) emit("caption fault: " + fault);
  }

 private:
  std::wstring last_ = L"\x1";  // matches no title, so the first reading counts
  std::vector<int> percentages_;
  std::vector<std::string> faults_;
};

struct SessionOptions {
  DWORD timeoutMs = 60000;
  bool watchCaption = false;
  int leaveAtPercent = -1;  // follow the session to its end
};

// One press of PROGRAM, followed until the session has ended. False when the driver left it
// running on purpose.
bool runSession(HWND mainWindow, int number, const SessionOptions& options, size_t& linesSeen) {
  emit("session " + std::to_string(number));
  HWND program = GetDlgItem(mainWindow, programButtonId);
  if (!IsWindowEnabled(program)) emit("fault: PROGRAM disabled before the press");
  CaptionWatch caption;
  const bool readCaption = options.watchCaption || options.leaveAtPercent >= 0;
  if (readCaption) {
    const std::wstring before = windowText(mainWindow);
    if (before != plainTitle) emit("caption fault: \"" + escaped(before) + "\" before the press");
  }
  SendMessageW(program, BM_CLICK, 0, 0);
  // The PROGRAM command has run when BM_CLICK returns; from here the session ends once PROGRAM
  // is enabled again. A box always comes before that, so it is looked for first.
  const ULONGLONG deadline = GetTickCount64() + options.timeoutMs;
  for (;;) {
    if (readCaption) caption.read(mainWindow);
    if (options.leaveAtPercent >= 0 && caption.highest() >= options.leaveAtPercent) {
      emitNewLines(mainWindow, linesSeen);
      emit("end " + std::to_string(number) + ": left at " + std::to_string(caption.highest()) +
           "%");
      return false;
    }
    if (HWND box = findErrorBox(mainWindow)) {
      emitNewLines(mainWindow, linesSeen);
      handleErrorBox(mainWindow, box);
      continue;
    }
    if (IsWindowEnabled(program)) {
      emitNewLines(mainWindow, linesSeen);
      emit("end " + std::to_string(number) + ": PROGRAM enabled");
      break;
    }
    if (GetTickCount64() > deadline) {
      emitNewLines(mainWindow, linesSeen);
      emit("timeout: PROGRAM still disabled");
      break;
    }
    Sleep(20);
  }
  if (options.watchCaption) caption.finish(mainWindow, number);
  return true;
}

bool waitForFile(const std::wstring& path, DWORD timeoutMs) {
  const ULONGLONG deadline = GetTickCount64() + timeoutMs;
  while (GetFileAttributesW(path.c_str()) == INVALID_FILE_ATTRIBUTES) {
    if (GetTickCount64() > deadline) return false;
    Sleep(50);
  }
  return true;
}

void createFile(const std::wstring& path) {
  HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
  if (file != INVALID_HANDLE_VALUE) CloseHandle(file);
}

HWND waitForMainWindow(DWORD timeoutMs) {
  const ULONGLONG deadline = GetTickCount64() + timeoutMs;
  for (;;) {
    HWND window = FindWindowW(L"USB3_FWUPDATE", nullptr);
    if (window && IsWindowVisible(window)) return window;
    if (GetTickCount64() > deadline) return nullptr;
    Sleep(50);
  }
}

// Follows the session like runSession until MS ms after the press, then presses Exit.
void exitDuringSession(HWND mainWindow, int number, DWORD afterMs, size_t& linesSeen) {
  emit("session " + std::to_string(number));
  SendMessageW(GetDlgItem(mainWindow, programButtonId), BM_CLICK, 0, 0);
  const ULONGLONG exitAt = GetTickCount64() + afterMs;
  while (GetTickCount64() < exitAt) {
    if (HWND box = findErrorBox(mainWindow)) {
      emitNewLines(mainWindow, linesSeen);
      handleErrorBox(mainWindow, box);
    }
    Sleep(20);
  }
  emitNewLines(mainWindow, linesSeen);
  emit("exit pressed during session " + std::to_string(number));
  PostMessageW(mainWindow, WM_COMMAND, MAKEWPARAM(exitButtonId, BN_CLICKED), 0);
}

// The worker releases the device list after it enables PROGRAM, and its thread ends after that:
// the figures count only once the program is back to the threads it had before the first session.
void writeFigures(FILE* file, const std::string& when, DWORD processId, uint32_t idleThreads) {
  constexpr DWORD workerEndMs = 5000;
  const ULONGLONG deadline = GetTickCount64() + workerEndMs;
  std::optional<quarn::wine::ProcessFigures> figures;
  for (;;) {
    figures = quarn::wine::readProcessFigures(processId);
    if (figures && figures->threads <= idleThreads) break;
    if (GetTickCount64() > deadline) break;
    Sleep(20);
  }
  if (!figures) {
    std::fprintf(file, "%s: unreadable\n", when.c_str());
  } else {
    std::fprintf(file, "%s: handles %u threads %u resident %llu KB%s\n", when.c_str(),
                 figures->handles, figures->threads,
                 static_cast<unsigned long long>(figures->residentBytes / 1024),
                 figures->threads > idleThreads ? " (worker still running)" : "");
  }
  std::fflush(file);
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc < 2) {
    std::fputs(
        "usage: quarn-wine-driver <output file> [--sessions N] [--handshake DIR] "
        "[--timeout SECONDS] [--exit] [--watch-caption] [--leave-at-percent P] [--times FILE]\n"
        "       [--figures FILE] [--exit-during MS]\n",
        stderr);
    return 2;
  }
  int sessions = 1;
  SessionOptions sessionOptions;
  std::wstring handshake;
  bool pressExit = false;
  std::wstring timesPath;
  std::wstring figuresPath;
  std::optional<DWORD> exitDuringMs;
  for (int i = 2; i < argc; ++i) {
    const std::wstring option = argv[i];
    if (option == L"--sessions" && i + 1 < argc) {
      sessions = _wtoi(argv[++i]);
    } else if (option == L"--timeout" && i + 1 < argc) {
      sessionOptions.timeoutMs = static_cast<DWORD>(_wtoi(argv[++i])) * 1000;
    } else if (option == L"--handshake" && i + 1 < argc) {
      handshake = argv[++i];
    } else if (option == L"--exit") {
      pressExit = true;
    } else if (option == L"--watch-caption") {
      sessionOptions.watchCaption = true;
    } else if (option == L"--leave-at-percent" && i + 1 < argc) {
      sessionOptions.leaveAtPercent = _wtoi(argv[++i]);
    } else if (option == L"--times" && i + 1 < argc) {
      timesPath = argv[++i];
    } else if (option == L"--figures" && i + 1 < argc) {
      figuresPath = argv[++i];
    } else if (option == L"--exit-during" && i + 1 < argc) {
      exitDuringMs = static_cast<DWORD>(_wtoi(argv[++i]));
    } else {
      std::fprintf(stderr, "quarn-wine-driver: unknown option %ls\n", option.c_str());
      return 2;
    }
  }
  output = _wfopen(argv[1], L"wb");
  if (!output) return 2;

  HWND mainWindow = waitForMainWindow(30000);
  if (!mainWindow) {
    emit("fault: no visible window of class USB3_FWUPDATE");
    return 1;
  }
  size_t linesSeen = 0;
  emit("start");
  emitNewLines(mainWindow, linesSeen);

  FILE* times = timesPath.empty() ? nullptr : _wfopen(timesPath.c_str(), L"wb");
  FILE* figures = figuresPath.empty() ? nullptr : _wfopen(figuresPath.c_str(), L"wb");
  DWORD processId = 0;
  GetWindowThreadProcessId(mainWindow, &processId);
  uint32_t idleThreads = 0;
  if (figures) {
    if (const auto idle = quarn::wine::readProcessFigures(processId)) idleThreads = idle->threads;
    writeFigures(figures, "start", processId, idleThreads);
  }

  for (int number = 1; number <= sessions; ++number) {
    if (exitDuringMs && number == sessions) {
      exitDuringSession(mainWindow, number, *exitDuringMs, linesSeen);
      pressExit = false;
      break;
    }
    const ULONGLONG pressed = GetTickCount64();
    const bool followed = runSession(mainWindow, number, sessionOptions, linesSeen);
    if (times) {
      std::fprintf(times, "session %d: %llu ms\n", number,
                   static_cast<unsigned long long>(GetTickCount64() - pressed));
      std::fflush(times);
    }
    if (figures) writeFigures(figures, "session " + std::to_string(number), processId, idleThreads);
    if (!followed) break;
    if (number < sessions && !handshake.empty()) {
      const std::wstring suffix = std::to_wstring(number);
      createFile(handshake + L"\\between-" + suffix);
      if (!waitForFile(handshake + L"\\go-" + suffix, sessionOptions.timeoutMs)) {
        emit("fault: no go from runner");
      }
    }
  }
  if (pressExit) PostMessageW(mainWindow, WM_COMMAND, MAKEWPARAM(exitButtonId, BN_CLICKED), 0);
  if (times) std::fclose(times);
  if (figures) std::fclose(figures);
  std::fclose(output);
  return 0;
}
