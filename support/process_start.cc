#include "support/process_start.h"

#include <shellapi.h>

#include "support/log.h"
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

// CreateProcessW, with the parent as the new process's where there is one.
DWORD Create(const wchar_t* app, wchar_t* commandLine, const wchar_t* folder,
             HANDLE parent) {
  STARTUPINFOEXW startup = {};
  startup.StartupInfo.cb = sizeof startup;
  startup.StartupInfo.dwFlags = STARTF_USESHOWWINDOW;
  startup.StartupInfo.wShowWindow = SW_SHOWNORMAL;
  // Room for the one attribute; the size asked for is checked against it.
  ULONG_PTR list[16];
  SIZE_T size = sizeof list;
  DWORD flags = 0;
  if (parent != nullptr) {
    auto* attributes = reinterpret_cast<LPPROC_THREAD_ATTRIBUTE_LIST>(list);
    if (!InitializeProcThreadAttributeList(attributes, 1, 0, &size)) {
      return GetLastError();
    }
    if (!UpdateProcThreadAttribute(attributes, 0, PROC_THREAD_ATTRIBUTE_PARENT_PROCESS,
                                   &parent, sizeof parent, nullptr, nullptr)) {
      DWORD error = GetLastError();
      DeleteProcThreadAttributeList(attributes);
      return error;
    }
    startup.lpAttributeList = attributes;
    flags = EXTENDED_STARTUPINFO_PRESENT;
  }
  PROCESS_INFORMATION started = {};
  DWORD error = 0;
  if (CreateProcessW(app, commandLine, nullptr, nullptr, FALSE, flags, nullptr,
                     folder, &startup.StartupInfo, &started)) {
    CloseHandle(started.hThread);
    CloseHandle(started.hProcess);
  } else {
    error = GetLastError();
  }
  if (startup.lpAttributeList != nullptr) {
    DeleteProcThreadAttributeList(startup.lpAttributeList);
  }
  return error;
}

}  // namespace

int StartProgram(const wchar_t* app, const wchar_t* parameters,
                 const wchar_t* folder, HANDLE parent, DWORD* error) {
  wchar_t commandLine[kCommandLineSize];
  bool fits = parameters != nullptr && parameters[0] != 0
                  ? FormatText(commandLine, kCommandLineSize, L"\"%s\" %s", app,
                               parameters)
                  : FormatText(commandLine, kCommandLineSize, L"\"%s\"", app);
  *error = fits ? Create(app, commandLine, folder, parent) : ERROR_FILENAME_EXCED_RANGE;
  int code = 33;
  if (*error == kElevationRequired && parent == nullptr) {
    code = static_cast<int>(reinterpret_cast<INT_PTR>(ShellExecuteW(
        nullptr, L"open", app, parameters, folder, SW_SHOWNORMAL)));
    if (code > 32) *error = 0;
  } else if (*error != 0) {
    code = ShellExecuteCode(*error);
  }
  if (*error != 0) {
    LogFormat(L"Could not start \"%s\": error %d", app, static_cast<int>(*error));
  }
  return code;
}
