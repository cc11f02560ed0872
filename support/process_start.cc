#include "support/process_start.h"

#include <shellapi.h>

#include "support/text.h"

namespace {

// Not in this SDK's headers: "The requested operation requires elevation."
const DWORD kElevationRequired = 740;

// The longest command line: a full path, the quotes and the setup program's
// three encoded folders.
const size_t kCommandLineSize = 3400;

// ShellExecuteW's number for a Win32 error of process creation.
int ShellExecuteCode(DWORD error) {
  // Tests rather than a switch, which the compiler turns into a table of
  // every number up to the highest.
  if (error == ERROR_OUTOFMEMORY) return SE_ERR_OOM;
  if (error == ERROR_BAD_EXE_FORMAT) return ERROR_BAD_FORMAT;
  if (error == ERROR_SHARING_VIOLATION || error == ERROR_LOCK_VIOLATION) {
    return SE_ERR_SHARE;
  }
  if (error == ERROR_MOD_NOT_FOUND || error == ERROR_DLL_NOT_FOUND) {
    return SE_ERR_DLLNOTFOUND;
  }
  if (error == ERROR_NO_ASSOCIATION) return SE_ERR_NOASSOC;
  // The shell's own numbers are the Win32 ones up to 32; anything above
  // would read as a started program.
  return error != 0 && error <= 32 ? static_cast<int>(error)
                                   : SE_ERR_ACCESSDENIED;
}

}  // namespace

int StartProgram(const wchar_t* app, const wchar_t* parameters,
                 const wchar_t* folder, HANDLE token) {
  wchar_t commandLine[kCommandLineSize];
  bool fits = parameters != nullptr && parameters[0] != 0
                  ? FormatText(commandLine, kCommandLineSize, L"\"%s\" %s", app,
                               parameters)
                  : FormatText(commandLine, kCommandLineSize, L"\"%s\"", app);
  if (!fits) return ShellExecuteCode(ERROR_FILENAME_EXCED_RANGE);
  STARTUPINFOW startup = {};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESHOWWINDOW;
  startup.wShowWindow = SW_SHOWNORMAL;
  PROCESS_INFORMATION started = {};
  BOOL made = token != nullptr
                  ? CreateProcessWithTokenW(token, 0, app, commandLine, 0,
                                            nullptr, folder, &startup, &started)
                  : CreateProcessW(app, commandLine, nullptr, nullptr, FALSE, 0,
                                   nullptr, folder, &startup, &started);
  if (made) {
    CloseHandle(started.hThread);
    CloseHandle(started.hProcess);
    return 33;
  }
  DWORD error = GetLastError();
  if (error == kElevationRequired && token == nullptr) {
    return static_cast<int>(reinterpret_cast<INT_PTR>(ShellExecuteW(
        nullptr, L"open", app, parameters, folder, SW_SHOWNORMAL)));
  }
  return ShellExecuteCode(error);
}
