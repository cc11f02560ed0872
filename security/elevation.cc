#include "security/elevation.h"

#include <initializer_list>

#include "security/folder_security.h"

namespace {

const DWORD kShellTokenAccess =
    TOKEN_QUERY | TOKEN_DUPLICATE | TOKEN_ASSIGN_PRIMARY;
const DWORD kPrimaryAccess = TOKEN_QUERY | TOKEN_DUPLICATE |
                             TOKEN_ASSIGN_PRIMARY | TOKEN_ADJUST_DEFAULT |
                             TOKEN_ADJUST_SESSIONID;

DWORD ShellProcess() {
  HWND shell = GetShellWindow();
  if (shell == nullptr) shell = FindWindowW(L"Shell_TrayWnd", nullptr);
  DWORD process = 0;
  if (shell != nullptr) GetWindowThreadProcessId(shell, &process);
  return process;
}

bool IsServiceAccount(HANDLE token) {
  TokenUserRecord user;
  if (!ReadTokenUser(token, &user)) return true;
  for (WELL_KNOWN_SID_TYPE type :
       {WinLocalSystemSid, WinLocalServiceSid, WinNetworkServiceSid}) {
    if (IsWellKnownSid(user.user.User.Sid, type)) return true;
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

HANDLE SignedInUserToken(const wchar_t** why) {
  DWORD id = ShellProcess();
  if (id == 0) {
    *why = L"no desktop shell runs";
    return nullptr;
  }
  HANDLE process = OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, id);
  HANDLE token = nullptr;
  HANDLE primary = nullptr;
  if (process != nullptr && OpenProcessToken(process, kShellTokenAccess, &token) &&
      !IsServiceAccount(token)) {
    DuplicateTokenEx(token, kPrimaryAccess, nullptr, SecurityImpersonation,
                     TokenPrimary, &primary);
  }
  if (token != nullptr) CloseHandle(token);
  if (process != nullptr) CloseHandle(process);
  if (primary == nullptr) *why = L"the desktop shell's token cannot be had";
  return primary;
}
