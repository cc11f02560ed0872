#include "security/elevation.h"

#include <initializer_list>

#include "security/folder_security.h"
#include "support/seams.h"

namespace {

// To be a new process's parent, and to read who it runs as.
const DWORD kParentAccess =
    PROCESS_CREATE_PROCESS | PROCESS_QUERY_LIMITED_INFORMATION;

DWORD ShellProcess() {
  HWND shell = GetShellWindow();
  if (shell == nullptr) shell = FindWindowW(L"Shell_TrayWnd", nullptr);
  DWORD process = 0;
  if (shell != nullptr) GetWindowThreadProcessId(shell, &process);
  return process;
}

bool IsServiceAccount(HANDLE process) {
  BYTE user[SECURITY_MAX_SID_SIZE];
  if (!seams::processUser(process, user, sizeof user)) return true;
  for (WELL_KNOWN_SID_TYPE type :
       {WinLocalSystemSid, WinLocalServiceSid, WinNetworkServiceSid}) {
    if (IsWellKnownSid(user, type)) return true;
  }
  return false;
}

}  // namespace

bool RunIsElevated() {
  // The token the run acts with: a thread's own, where it has one.
  HANDLE token = nullptr;
  if (!OpenThreadToken(GetCurrentThread(), TOKEN_QUERY, TRUE, &token) &&
      !OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token)) {
    return false;
  }
  bool elevated = TokenIsAdministrator(token);
  CloseHandle(token);
  return elevated;
}

HANDLE SignedInUserProcess(const wchar_t** why) {
  DWORD id = ShellProcess();
  if (id == 0) {
    *why = L"no desktop shell runs";
    return nullptr;
  }
  HANDLE process = OpenProcess(kParentAccess, FALSE, id);
  if (process != nullptr && IsServiceAccount(process)) {
    CloseHandle(process);
    process = nullptr;
  }
  if (process == nullptr) *why = L"the desktop shell's token cannot be had";
  return process;
}
