// robot.exe: runs a program and answers its message boxes the way a person
// would, recording what it saw.
//
//   robot.exe [--answer CAPTION=BUTTON]... [--record FILE] [--shots FOLDER]
//             [--timeout-ms N] [--settle-ms N] [--kill-tree] [--wait-tree]
//             [--again-after-ms N] -- PROGRAM [ARGS...]
//
// PROGRAM is started with CreateProcessW (environment and current directory
// inherited). Until it exits, every ~10 ms the robot looks at all top-level
// windows. A message box of that process (class "#32770" with the text
// control 0xFFFF, caption not "Status") is answered once it has been visible
// for --settle-ms (default 100): with the first answer queued for its
// caption by --answer (each used once, in the order given; BUTTON is OK,
// Cancel, Yes, No, Abort, Retry, Ignore, Close, Help, TryAgain or Continue),
// else OK, else Cancel, else its first button. Before answering, one line:
//   CAPTION<TAB>TEXT<TAB>BUTTONS<TAB>ICON<TAB>ANSWER
// BUTTONS: the button names left to right, comma-separated; ICON: error,
// question, warning, information, none or unknown. Other lines start with
// '#':
//   #seen<TAB>TITLE<TAB>MS    first sight of the program's "Status" dialog or
//                             of a window "Talvorn Installer" / "Talvorn
//                             Installer: Installing" (any process, shown or
//                             hidden); MS since the program was started
//   #shot<TAB>FILE[<TAB>blank]  a screenshot saved ("blank": one colour only)
//   #missing<TAB>CAPTION<TAB>BUTTON  the queued button is not in the box; the
//                             default answer is given instead
//   #timeout<TAB>MS           the time limit ran out; the program was killed
//   #exit<TAB>CODE            the program's exit code
//   #error<TAB>cannot start<TAB>COMMAND<TAB>ERROR  CreateProcessW failed
// Fields are escaped as in the stand-ins' records (% and control characters
// as %XX). Lines are UTF-8 and go to stdout and, flushed one by one, to the
// --record file (created afresh).
//
// --shots FOLDER: a BMP of each box before it is answered, and of the first
// sight (once visible for 50 ms) of each watched title above, named
// NNN-CAPTION.bmp (NNN counting from 001; characters other than letters,
// digits, '.', '-' and '_' in the caption become '_').
// --again-after-ms N: starts PROGRAM a second time N ms after the first, as a
// double click would; the boxes of both are answered, each one's "Status"
// dialog is seen, and the second one's exit code is written as
// "#exit-again<TAB>CODE" before the first one's "#exit".
// --kill-tree: when the program ends, end whatever it started that is still
// running. --wait-tree: when the program ends, wait (within the time limit)
// until whatever it started has ended too.
//
// Exit code: the program's; 124 after a timeout; 125 for a usage error; 126
// when the program cannot be started.
#include <windows.h>

#include <cstdio>
#include <deque>
#include <map>
#include <set>

#include "record.h"
#include "robot_boxes.h"
#include "robot_shots.h"

namespace {

struct Options {
  std::map<std::wstring, std::deque<std::wstring>> answers;
  std::wstring recordFile;
  std::wstring shotsFolder;
  DWORD timeoutMs = 0;  // 0: no limit
  DWORD settleMs = 100;
  bool killTree = false;
  bool waitTree = false;
  bool again = false;
  DWORD againAfterMs = 0;
  std::wstring commandLine;
};

struct Tracked {
  bool visible = false;
  DWORD visibleSince = 0;  // tick count, while visible
  bool done = false;
};

// How long the window has been visible now, 0 when it is not.
DWORD VisibleFor(Tracked& tracked, bool visible, DWORD now) {
  if (visible && !tracked.visible) tracked.visibleSince = now;
  tracked.visible = visible;
  return visible ? now - tracked.visibleSince : 0;
}

HANDLE recordHandle = INVALID_HANDLE_VALUE;
int shotNumber = 0;

void Emit(const std::string& line) {
  std::string bytes = line + "\n";
  DWORD written;
  HANDLE out = GetStdHandle(STD_OUTPUT_HANDLE);
  if (out && out != INVALID_HANDLE_VALUE)
    WriteFile(out, bytes.data(), (DWORD)bytes.size(), &written, nullptr);
  if (recordHandle != INVALID_HANDLE_VALUE) {
    WriteFile(recordHandle, bytes.data(), (DWORD)bytes.size(), &written,
              nullptr);
    FlushFileBuffers(recordHandle);
  }
}

std::wstring QuoteArgument(const std::wstring& argument) {
  if (!argument.empty() && argument.find_first_of(L" \t\"") == std::wstring::npos)
    return argument;
  std::wstring quoted = L"\"";
  size_t backslashes = 0;
  for (wchar_t c : argument) {
    if (c == L'\\') {
      ++backslashes;
      continue;
    }
    quoted.append(c == L'"' ? backslashes * 2 + 1 : backslashes, L'\\');
    backslashes = 0;
    quoted += c;
  }
  quoted.append(backslashes * 2, L'\\');
  return quoted + L"\"";
}

bool ParseOptions(int argc, wchar_t** argv, Options* options) {
  int i = 1;
  for (; i < argc; ++i) {
    std::wstring arg = argv[i];
    if (arg == L"--") break;
    bool hasValue = i + 1 < argc;
    if (arg == L"--kill-tree") {
      options->killTree = true;
    } else if (arg == L"--wait-tree") {
      options->waitTree = true;
    } else if (!hasValue) {
      return false;
    } else if (arg == L"--answer") {
      std::wstring value = argv[++i];
      size_t equals = value.rfind(L'=');
      if (equals == std::wstring::npos) return false;
      std::wstring button = value.substr(equals + 1);
      if (!robot::ButtonId(button)) return false;
      options->answers[value.substr(0, equals)].push_back(button);
    } else if (arg == L"--record") {
      options->recordFile = argv[++i];
    } else if (arg == L"--shots") {
      options->shotsFolder = argv[++i];
    } else if (arg == L"--timeout-ms") {
      options->timeoutMs = wcstoul(argv[++i], nullptr, 10);
    } else if (arg == L"--settle-ms") {
      options->settleMs = wcstoul(argv[++i], nullptr, 10);
    } else if (arg == L"--again-after-ms") {
      options->again = true;
      options->againAfterMs = wcstoul(argv[++i], nullptr, 10);
    } else {
      return false;
    }
  }
  for (++i; i < argc; ++i) {
    if (!options->commandLine.empty()) options->commandLine += L" ";
    options->commandLine += QuoteArgument(argv[i]);
  }
  return !options->commandLine.empty();
}

// Saves a shot when --shots is given; the "#shot" line to write, if any.
std::vector<std::wstring> TakeShot(HWND window, const Options& options,
                                   const std::wstring& title) {
  if (options.shotsFolder.empty()) return {};
  std::wstring name = title;
  for (wchar_t& c : name) {
    if (!iswalnum(c) && c != L'.' && c != L'-' && c != L'_') c = L'_';
  }
  wchar_t number[16];
  wsprintfW(number, L"%03d-", ++shotNumber);
  std::wstring file = options.shotsFolder + L"\\" + number + name + L".bmp";
  bool uniform = false;
  if (!robot::SaveWindowShot(window, file, &uniform))
    return {L"#shot", file, L"failed"};
  if (uniform) return {L"#shot", file, L"blank"};
  return {L"#shot", file};
}

void EmitFields(const std::vector<std::wstring>& fields) {
  std::string line;
  for (size_t i = 0; i < fields.size(); ++i) {
    line += (i ? "\t" : "") + kit::Escape(fields[i]);
  }
  if (!fields.empty()) Emit(line);
}

void Answer(HWND box, Options& options) {
  robot::BoxContent content = robot::ReadMessageBox(box);
  std::wstring buttons;
  for (const robot::BoxButton& button : content.buttons) {
    buttons += (buttons.empty() ? L"" : L",") + robot::ButtonName(button.id);
  }
  const robot::BoxButton* chosen = nullptr;
  auto find = [&](int id) -> const robot::BoxButton* {
    for (const robot::BoxButton& button : content.buttons) {
      if (button.id == id) return &button;
    }
    return nullptr;
  };
  std::deque<std::wstring>& queue = options.answers[content.caption];
  if (!queue.empty()) {
    chosen = find(robot::ButtonId(queue.front()));
    if (!chosen) EmitFields({L"#missing", content.caption, queue.front()});
    queue.pop_front();
  }
  if (!chosen) chosen = find(IDOK);
  if (!chosen) chosen = find(IDCANCEL);
  if (!chosen && !content.buttons.empty()) chosen = &content.buttons.front();
  std::vector<std::wstring> shot = TakeShot(box, options, content.caption);
  EmitFields({content.caption, content.text, buttons, content.icon,
              chosen ? robot::ButtonName(chosen->id) : L"none"});
  EmitFields(shot);
  if (chosen) robot::PressButton(box, *chosen);
}

struct Watch {
  Options* options;
  std::set<DWORD> pids;  // the program's copies
  DWORD startTick;
  std::map<HWND, Tracked> boxes;
  // The watched titles, by title; "Status" once for each copy.
  std::map<std::pair<std::wstring, DWORD>, Tracked> titles;
};

BOOL CALLBACK CollectWindow(HWND window, LPARAM list) {
  reinterpret_cast<std::vector<HWND>*>(list)->push_back(window);
  return TRUE;
}

void LookAtWindow(Watch& watch, HWND window, DWORD now) {
  DWORD pid = 0;
  GetWindowThreadProcessId(window, &pid);
  std::wstring title = robot::WindowTitle(window);
  bool visible = IsWindowVisible(window);
  bool ours = watch.pids.count(pid) != 0;
  bool status = ours && title == L"Status" && robot::WindowClass(window) == L"#32770";
  bool watched = title == L"Talvorn Installer" ||
                 title == L"Talvorn Installer: Installing" || status;
  if (watched) {
    std::pair<std::wstring, DWORD> key{title, status ? pid : 0};
    bool first = !watch.titles.count(key);
    Tracked& tracked = watch.titles[key];
    if (first)
      EmitFields({L"#seen", title, std::to_wstring(now - watch.startTick)});
    // A moment for the window to be painted.
    if (VisibleFor(tracked, visible, now) >= 50 && !tracked.done) {
      tracked.done = true;
      EmitFields(TakeShot(window, *watch.options, title));
    }
    return;
  }
  if (!ours || !visible || !robot::IsMessageBox(window)) return;
  Tracked& tracked = watch.boxes[window];
  if (tracked.done) return;
  DWORD shown = VisibleFor(tracked, true, now);
  // Wait for the box to be painted; the icon is read from the screen.
  if (shown < watch.options->settleMs) return;
  if (shown < 1000 && robot::DetectIcon(window) == L"unknown") return;
  tracked.done = true;
  Answer(window, *watch.options);
}

void Poll(Watch& watch) {
  std::vector<HWND> windows;
  EnumWindows(CollectWindow, reinterpret_cast<LPARAM>(&windows));
  DWORD now = GetTickCount();
  for (HWND window : windows) LookAtWindow(watch, window, now);
  for (auto it = watch.boxes.begin(); it != watch.boxes.end();) {
    it = IsWindow(it->first) ? std::next(it) : watch.boxes.erase(it);
  }
}

// Started suspended, put into the job, then let go.
bool StartCopy(const Options& options, HANDLE* job, PROCESS_INFORMATION* process) {
  STARTUPINFOW startup = {};
  startup.cb = sizeof startup;
  std::wstring commandLine = options.commandLine;
  if (!CreateProcessW(nullptr, &commandLine[0], nullptr, nullptr, FALSE,
                      CREATE_SUSPENDED, nullptr, nullptr, &startup, process)) {
    EmitFields({L"#error", L"cannot start", options.commandLine,
                std::to_wstring(GetLastError())});
    return false;
  }
  if (*job && !AssignProcessToJobObject(*job, process->hProcess)) {
    CloseHandle(*job);
    *job = nullptr;
  }
  ResumeThread(process->hThread);
  return true;
}

DWORD ActiveProcesses(HANDLE job) {
  JOBOBJECT_BASIC_ACCOUNTING_INFORMATION info = {};
  if (!job || !QueryInformationJobObject(job, JobObjectBasicAccountingInformation,
                                         &info, sizeof info, nullptr))
    return 0;
  return info.ActiveProcesses;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  Options options;
  if (!ParseOptions(argc, argv, &options)) {
    fprintf(stderr,
            "usage: robot [--answer CAPTION=BUTTON]... [--record FILE] "
            "[--shots FOLDER] [--timeout-ms N] [--settle-ms N] [--kill-tree] "
            "[--wait-tree] [--again-after-ms N] -- PROGRAM [ARGS...]\n");
    return 125;
  }
  if (!options.recordFile.empty()) {
    recordHandle = CreateFileW(
        options.recordFile.c_str(), GENERIC_WRITE,
        FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
        CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  }
  if (!options.shotsFolder.empty())
    CreateDirectoryW(options.shotsFolder.c_str(), nullptr);

  // A job holds the program and whatever it starts, for --kill-tree,
  // --wait-tree and the timeout.
  HANDLE job = CreateJobObjectW(nullptr, nullptr);
  PROCESS_INFORMATION process = {};
  if (!StartCopy(options, &job, &process)) return 126;

  Watch watch{&options, {process.dwProcessId}, GetTickCount(), {}, {}};
  PROCESS_INFORMATION again = {};
  bool timedOut = false;
  bool programDone = false;
  for (;;) {
    if (options.again && again.hProcess == nullptr &&
        GetTickCount() - watch.startTick >= options.againAfterMs) {
      if (!StartCopy(options, &job, &again)) return 126;
      watch.pids.insert(again.dwProcessId);
    }
    if (!programDone) {
      programDone = WaitForSingleObject(process.hProcess, 10) == WAIT_OBJECT_0 &&
                    (!options.again || (again.hProcess != nullptr &&
                                        WaitForSingleObject(again.hProcess, 0) ==
                                            WAIT_OBJECT_0));
      if (!programDone) Poll(watch);
    }
    if (programDone && (!options.waitTree || ActiveProcesses(job) == 0)) break;
    if (programDone) Sleep(10);
    if (options.timeoutMs && GetTickCount() - watch.startTick >= options.timeoutMs) {
      timedOut = true;
      break;
    }
  }
  if (!timedOut && again.hProcess != nullptr) {
    DWORD againCode = 0;
    GetExitCodeProcess(again.hProcess, &againCode);
    EmitFields({L"#exit-again", std::to_wstring(againCode)});
  }
  DWORD code = 0;
  if (timedOut) {
    EmitFields({L"#timeout", std::to_wstring(options.timeoutMs)});
    if (job) TerminateJobObject(job, 124);
    TerminateProcess(process.hProcess, 124);
    WaitForSingleObject(process.hProcess, 5000);
    code = 124;
  } else {
    GetExitCodeProcess(process.hProcess, &code);
    EmitFields({L"#exit", std::to_wstring(code)});
    if (options.killTree && job) TerminateJobObject(job, 1);
  }
  if (recordHandle != INVALID_HANDLE_VALUE) CloseHandle(recordHandle);
  return (int)code;
}
