#include "security/elevation.h"

#include <initializer_list>

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

bool TokenIsAdministrator(HANDLE token) {
  BYTE administrators[SECURITY_MAX_SID_SIZE];
  DWORD sidSize = sizeof administrators;
  if (!CreateWellKnownSid(WinBuiltinAdministratorsSid, nullptr, administrators,
                          &sidSize)) {
    return false;
  }
  DWORD size = 0;
  GetTokenInformation(token, TokenGroups, nullptr, 0, &size);
  if (size == 0) return false;
  HANDLE heap = GetProcessHeap();
  auto* groups = static_cast<TOKEN_GROUPS*>(HeapAlloc(heap, 0, size));
  if (groups == nullptr) return false;
  bool enabled = false;
  if (GetTokenInformation(token, TokenGroups, groups, size, &size)) {
    for (DWORD i = 0; i < groups->GroupCount; ++i) {
      const SID_AND_ATTRIBUTES& group = groups->Groups[i];
      if (EqualSid(group.Sid, administrators) &&
          (group.Attributes & SE_GROUP_ENABLED) != 0 &&
          (group.Attributes & SE_GROUP_USE_FOR_DENY_ONLY) == 0) {
        enabled = true;
      }
    }
  }
  HeapFree(heap, 0, groups);
  return enabled;
}

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
