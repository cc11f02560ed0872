// Stand-in for the installed application ("Talvorn Server.exe"), its launcher
// ("Launcher.exe", built with STANDIN_LAUNCHER) and its uninstaller
// ("Uninstall.exe"). Each records how it was started and exits at once,
// without a window:
//   prog=<exe>  event=start  pid  parent  module  cwd  cmdline  argc  arg1..argN
// (argc counts the parameters, the program itself not included; the
// parameters as the platform's command-line splitting gives them).
//
// The launcher is given one parameter, the application's full path. Unless
// TALVORN_LAUNCHER_START is "0" it then starts that application (its command
// line: the path in double quotes; environment and current directory
// inherited) and records
//   prog=Launcher.exe  event=launch  target=<path>  ok=1|0  error=<code>  pid
// With any other number of parameters it starts nothing and records
// event=launch ok=0 error=arguments.
#include <windows.h>
#include <shellapi.h>

#include "record.h"

namespace {

#ifdef STANDIN_LAUNCHER
void StartTarget(int argc, wchar_t** argv) {
  kit::Record record(L"launch");
  if (argc != 2) {
    record.Add(L"ok", 0).Add(L"error", L"arguments").Write();
    return;
  }
  std::wstring target = argv[1];
  std::wstring commandLine = L"\"" + target + L"\"";
  STARTUPINFOW startup = {};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process = {};
  BOOL ok = CreateProcessW(target.c_str(), &commandLine[0], nullptr, nullptr,
                           FALSE, 0, nullptr, nullptr, &startup, &process);
  record.Add(L"target", target)
      .Add(L"ok", ok ? 1 : 0)
      .Add(L"error", ok ? 0 : (long long)GetLastError())
      .Add(L"pid", ok ? (long long)process.dwProcessId : 0);
  if (ok) {
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
  }
  record.Write();
}
#endif

}  // namespace

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
  int argc = 0;
  wchar_t** argv = CommandLineToArgvW(GetCommandLineW(), &argc);
  kit::Record record = kit::StartRecord();
  record.Add(L"argc", argc > 0 ? argc - 1 : 0);
  for (int i = 1; i < argc; ++i) {
    record.Add(L"arg" + std::to_wstring(i), argv[i]);
  }
  record.Write();
#ifdef STANDIN_LAUNCHER
  if (kit::GetEnv(L"TALVORN_LAUNCHER_START") != L"0") StartTarget(argc, argv);
#endif
  LocalFree(argv);
  return 0;
}
