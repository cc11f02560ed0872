// kit_selftest.exe: the helper the testkit's quick checks drive. Its
// arguments are done in order, then it exits with code 7:
//   CAPTION|TEXT|BUTTONS|ICON  a message box (BUTTONS: ok, okcancel, yesno,
//       yesnocancel, retrycancel; ICON: error, question, warning,
//       information, none); the result is recorded as
//       event=box caption=CAPTION result=<id>
//   sleep:MS                   sleep
//   exec:FILE PARAMS           ShellExecuteW "open" FILE with PARAMS exactly
//       (as the extractor starts its setup program), then wait for it
//   start:FILE PARAMS          the same without waiting
//   open:FILE                  the extractor's existence test (open for
//       reading, no sharing), recorded as event=open file ok error
//   until:FILE                 wait (up to 10 s) until FILE exists, so that
//       a slow start does not pass for a wrong answer
#include <windows.h>
#include <shellapi.h>

#include "record.h"

namespace {

UINT Flags(const std::wstring& buttons, const std::wstring& icon) {
  UINT flags = MB_OK;
  if (buttons == L"okcancel") flags = MB_OKCANCEL;
  if (buttons == L"yesno") flags = MB_YESNO;
  if (buttons == L"yesnocancel") flags = MB_YESNOCANCEL;
  if (buttons == L"retrycancel") flags = MB_RETRYCANCEL;
  if (icon == L"error") flags |= MB_ICONERROR;
  if (icon == L"question") flags |= MB_ICONQUESTION;
  if (icon == L"warning") flags |= MB_ICONWARNING;
  if (icon == L"information") flags |= MB_ICONINFORMATION;
  return flags;
}

void ShowBox(const std::wstring& description) {
  std::wstring parts[4];
  size_t at = 0;
  for (int i = 0; i < 4; ++i) {
    size_t bar = i < 3 ? description.find(L'|', at) : std::wstring::npos;
    parts[i] = description.substr(
        at, bar == std::wstring::npos ? std::wstring::npos : bar - at);
    at = bar == std::wstring::npos ? description.size() : bar + 1;
  }
  int result = MessageBoxW(nullptr, parts[1].c_str(), parts[0].c_str(),
                           Flags(parts[2], parts[3]));
  kit::Record(L"box").Add(L"caption", parts[0]).Add(L"result", result).Write();
}

void Execute(const std::wstring& file, const std::wstring& parameters,
             bool wait) {
  SHELLEXECUTEINFOW info = {};
  info.cbSize = sizeof info;
  info.fMask = SEE_MASK_NOCLOSEPROCESS;
  info.lpVerb = L"open";
  info.lpFile = file.c_str();
  info.lpParameters = parameters.c_str();
  info.nShow = SW_SHOWNORMAL;
  if (ShellExecuteExW(&info) && info.hProcess) {
    if (wait) WaitForSingleObject(info.hProcess, 30000);
    CloseHandle(info.hProcess);
  }
}

void Open(const std::wstring& file) {
  HANDLE handle = CreateFileW(file.c_str(), GENERIC_READ, 0, nullptr,
                              OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  DWORD error = handle == INVALID_HANDLE_VALUE ? GetLastError() : 0;
  if (handle != INVALID_HANDLE_VALUE) CloseHandle(handle);
  kit::Record(L"open")
      .Add(L"file", file)
      .Add(L"ok", error ? 0 : 1)
      .Add(L"error", error)
      .Write();
}

}  // namespace

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
  int argc = 0;
  wchar_t** argv = CommandLineToArgvW(GetCommandLineW(), &argc);
  for (int i = 1; i < argc; ++i) {
    std::wstring arg = argv[i];
    if (arg.compare(0, 6, L"sleep:") == 0) {
      Sleep(wcstoul(arg.c_str() + 6, nullptr, 10));
    } else if (arg.compare(0, 5, L"exec:") == 0 && i + 1 < argc) {
      Execute(arg.substr(5), argv[++i], true);
    } else if (arg.compare(0, 6, L"start:") == 0 && i + 1 < argc) {
      Execute(arg.substr(6), argv[++i], false);
    } else if (arg.compare(0, 5, L"open:") == 0) {
      Open(arg.substr(5));
    } else if (arg.compare(0, 6, L"until:") == 0) {
      for (int waited = 0; waited < 10000 &&
           GetFileAttributesW(arg.c_str() + 6) == INVALID_FILE_ATTRIBUTES;
           waited += 10) {
        Sleep(10);
      }
    } else {
      ShowBox(arg);
    }
  }
  LocalFree(argv);
  return 7;
}
