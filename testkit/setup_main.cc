// "InstallTalvorn.exe": a stand-in for the product's setup program that keeps
// the extractor's contract and, for tests, follows a script.
//
// Command line: three double-quoted Base64 fields separated by commas (the
// documents folder, the start menu programs folder + "Talvorn\", the desktop
// folder; each the UTF-16LE bytes of the path). Recorded first as
//   prog=InstallTalvorn.exe event=start pid parent module cwd cmdline
//   arg1 arg2 arg3 (the decoded paths) params (the raw parameters)
//   format=ok|bad (bad: not exactly "A","B","C", or a field not Base64 of an
//   even number of bytes)
//
// TALVORN_SETUP_SCRIPT: steps separated by commas, each "name" or
// "name=arg", run in order on the one thread, which keeps pumping messages.
// Unset or empty: "ask" (a person clicks Install or Cancel). After the last
// step the windows are closed and the program exits with code 0.
//   create          make the main window, hidden, titled "Talvorn Installer"
//   show            make the main window if needed and show it
//   hide            hide the main window (it keeps its title)
//   installing      title "Talvorn Installer: Installing" (shows the window
//                   first if there is none)
//   plain           title "Talvorn Installer"
//   title=TEXT      any other title on the main window
//   second=installing|plain|TEXT  a second shown top-level window with that
//                   title, made after (so above) the main window
//   raise=main|second  put that window at the top of the z-order
//   close           destroy the windows (the process goes on)
//   copy            copy the product files from its own folder ("Talvorn
//                   Server.exe", "Launcher.exe", "Uninstall.exe", the two
//                   DLLs, "Licence.txt", the "Talvorn" tree) to the install
//                   folder: TALVORN_SETUP_INSTALL_DIR, or else the program
//                   files folder + "\Talvorn"
//   registry        REG_SZ InstPath under HKLM\Software\Talvorn: the value of
//                   TALVORN_SETUP_INSTPATH, or else the install folder (no
//                   trailing backslash)
//   handoff[=plain|bom|crlf|bom+crlf|ansi|empty]  write "InstalledApp.txt" in
//                   its own folder: TALVORN_SETUP_HANDOFF_PATH, or else the
//                   install folder + "\Talvorn Server.exe"; plain is UTF-16LE
//                   with no BOM, line end or terminator; ansi is 8-bit
//   cancel          create "cancel.txt" in its own folder and close it again
//   hold=NAME       open (creating) NAME in its own folder with no sharing and
//                   keep it open until "release" or the process ends
//   release         close the files held
//   wait=MS         go on pumping messages for MS milliseconds
//   ask             show the window and wait for a click: Install runs
//                   "install", Cancel (or closing the window) runs "cancel"
//   exit=CODE       close the windows and exit with CODE at once
//   crash           record, then end the process abruptly (exit code 3),
//                   windows and files left to the system
//   install         = installing,copy,registry,handoff,wait=400
// Every step but wait and exit is recorded as event=<step> arg=<arg>
// ms=<time since start>, with what it did (copy: dir copied missing ok;
// registry: value length ok error; handoff: file path format ok; cancel and
// hold: file ok; release: count; ask: choice=install|cancel, followed by the
// records of the steps the choice runs); the end as event=exit code=<code>. An unknown step is recorded as
// event=error and the program exits with code 2 without a window.
#include <windows.h>

#include "record.h"
#include "setup_actions.h"

namespace {

const wchar_t kClassName[] = L"TalvornSetupStandin";
const wchar_t kPlainTitle[] = L"Talvorn Installer";
const wchar_t kInstallingTitle[] = L"Talvorn Installer: Installing";
const wchar_t kQuestion[] = L"Install Talvorn on this computer?";
enum { kLabel = 100, kInstallButton = 101, kCancelButton = 102 };
enum Choice { kNone, kInstall, kCancel };

HINSTANCE instance;
HWND mainWindow;
HWND secondWindow;
bool asking;
Choice choice = kNone;
DWORD startTick;

LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wParam,
                            LPARAM lParam) {
  switch (message) {
    case WM_COMMAND:
      if (asking && LOWORD(wParam) == kInstallButton) choice = kInstall;
      if (asking && LOWORD(wParam) == kCancelButton) choice = kCancel;
      return 0;
    case WM_CLOSE:
      // Closing counts as Cancel while a person is asked; a script decides
      // for itself when its windows go.
      if (asking) choice = kCancel;
      return 0;
  }
  return DefWindowProcW(window, message, wParam, lParam);
}

HWND MakeWindow(const wchar_t* title, int offset, bool withButtons) {
  HWND window = CreateWindowExW(
      0, kClassName, title, WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU,
      200 + offset, 150 + offset, 360, 160, nullptr, nullptr, instance,
      nullptr);
  HFONT font = (HFONT)GetStockObject(DEFAULT_GUI_FONT);
  HWND label = CreateWindowExW(0, L"STATIC", kQuestion,
                               WS_CHILD | WS_VISIBLE, 16, 16, 320, 20, window,
                               (HMENU)kLabel, instance, nullptr);
  SendMessageW(label, WM_SETFONT, (WPARAM)font, 0);
  if (withButtons) {
    const struct { const wchar_t* text; int id; int x; } buttons[] = {
        {L"Install", kInstallButton, 150}, {L"Cancel", kCancelButton, 250}};
    for (const auto& b : buttons) {
      HWND button = CreateWindowExW(
          0, L"BUTTON", b.text, WS_CHILD | WS_VISIBLE | WS_TABSTOP, b.x, 70,
          85, 26, window, (HMENU)(INT_PTR)b.id, instance, nullptr);
      SendMessageW(button, WM_SETFONT, (WPARAM)font, 0);
    }
  }
  return window;
}

void EnsureMainWindow(bool visible) {
  if (!mainWindow) mainWindow = MakeWindow(kPlainTitle, 0, true);
  if (visible && !IsWindowVisible(mainWindow)) {
    ShowWindow(mainWindow, SW_SHOWNORMAL);
    UpdateWindow(mainWindow);
  }
}

void CloseWindows() {
  if (secondWindow) DestroyWindow(secondWindow);
  if (mainWindow) DestroyWindow(mainWindow);
  secondWindow = mainWindow = nullptr;
}

void PumpMessages() {
  MSG message;
  while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
    TranslateMessage(&message);
    DispatchMessageW(&message);
  }
}

void PumpFor(DWORD ms) {
  DWORD start = GetTickCount();
  for (;;) {
    PumpMessages();
    DWORD elapsed = GetTickCount() - start;
    if (elapsed >= ms) return;
    MsgWaitForMultipleObjects(0, nullptr, FALSE, ms - elapsed, QS_ALLINPUT);
  }
}

const wchar_t* TitleFor(const std::wstring& arg) {
  if (arg == L"installing") return kInstallingTitle;
  if (arg == L"plain") return kPlainTitle;
  return arg.c_str();
}

[[noreturn]] void Exit(UINT code) {
  CloseWindows();
  kit::Record(L"exit").Add(L"code", code).Write();
  ExitProcess(code);
}

void RunSteps(const std::vector<setup::Step>& steps);

// Shows the window and waits for a person's click.
Choice Ask() {
  EnsureMainWindow(true);
  asking = true;
  choice = kNone;
  while (choice == kNone) {
    PumpMessages();
    if (choice == kNone) WaitMessage();
  }
  asking = false;
  return choice;
}

// The label and buttons follow the title, for whoever watches.
void ShowStage(bool installing) {
  SetDlgItemTextW(mainWindow, kLabel,
                  installing ? L"Installing Talvorn..." : kQuestion);
  for (int id : {kInstallButton, kCancelButton})
    EnableWindow(GetDlgItem(mainWindow, id), !installing);
}

void RunStep(const setup::Step& step) {
  const std::wstring& name = step.name;
  if (name == L"wait") {
    PumpFor(wcstoul(step.arg.c_str(), nullptr, 10));
    return;
  }
  if (name == L"exit") Exit(wcstoul(step.arg.c_str(), nullptr, 10));
  kit::Record record(name);
  record.Add(L"arg", step.arg)
      .Add(L"ms", (long long)(GetTickCount() - startTick));
  if (name == L"create") {
    EnsureMainWindow(false);
  } else if (name == L"show") {
    EnsureMainWindow(true);
  } else if (name == L"hide") {
    if (mainWindow) ShowWindow(mainWindow, SW_HIDE);
  } else if (name == L"installing" || name == L"plain" || name == L"title") {
    EnsureMainWindow(!mainWindow);
    SetWindowTextW(mainWindow, name == L"title" ? step.arg.c_str()
                                                : TitleFor(name));
    if (name != L"title") ShowStage(name == L"installing");
  } else if (name == L"second") {
    if (!secondWindow) secondWindow = MakeWindow(TitleFor(step.arg), 40, false);
    SetWindowTextW(secondWindow, TitleFor(step.arg));
    ShowWindow(secondWindow, SW_SHOWNORMAL);
  } else if (name == L"raise") {
    HWND window = step.arg == L"second" ? secondWindow : mainWindow;
    SetWindowPos(window, HWND_TOP, 0, 0, 0, 0,
                 SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
  } else if (name == L"close") {
    CloseWindows();
  } else if (name == L"copy") {
    setup::CopyProduct(record);
  } else if (name == L"move") {
    setup::MoveIntoInstallFolder(step.arg, record);
  } else if (name == L"registry") {
    setup::WriteInstPath(record);
  } else if (name == L"handoff") {
    setup::WriteHandoff(step.arg, record);
  } else if (name == L"cancel") {
    setup::CreateCancelMarker(record);
  } else if (name == L"hold") {
    setup::HoldFile(step.arg, record);
  } else if (name == L"release") {
    setup::ReleaseFiles(record);
  } else if (name == L"crash") {
    record.Write();
    TerminateProcess(GetCurrentProcess(), 3);
  } else if (name == L"ask") {
    Choice answer = Ask();
    record.Add(L"choice", answer == kInstall ? L"install" : L"cancel").Write();
    std::vector<setup::Step> steps;
    std::wstring error;
    setup::ParseScript(answer == kInstall ? L"install" : L"cancel", &steps,
                       &error);
    RunSteps(steps);
    return;
  }
  record.Write();
  PumpMessages();
}

void RunSteps(const std::vector<setup::Step>& steps) {
  for (const setup::Step& step : steps) RunStep(step);
}

}  // namespace

int WINAPI wWinMain(HINSTANCE hInstance, HINSTANCE, PWSTR, int) {
  instance = hInstance;
  startTick = GetTickCount();
  setup::RecordStart();

  std::wstring script = kit::GetEnv(L"TALVORN_SETUP_SCRIPT");
  if (script.empty()) script = L"ask";
  std::vector<setup::Step> steps;
  std::wstring error;
  if (!setup::ParseScript(script, &steps, &error)) {
    kit::Record(L"error").Add(L"step", error).Add(L"script", script).Write();
    Exit(2);
  }

  WNDCLASSW windowClass = {};
  windowClass.lpfnWndProc = WindowProc;
  windowClass.hInstance = instance;
  windowClass.hCursor = LoadCursor(nullptr, IDC_ARROW);
  windowClass.hbrBackground = (HBRUSH)(COLOR_BTNFACE + 1);
  windowClass.lpszClassName = kClassName;
  RegisterClassW(&windowClass);

  RunSteps(steps);
  Exit(0);
}
