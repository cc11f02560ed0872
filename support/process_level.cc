#include "support/process_level.h"

DWORD ProcessIntegrityLevel(DWORD processId) {
  HANDLE process =
      OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, processId);
  if (process == nullptr) return 0;
  DWORD level = 0;
  HANDLE token = nullptr;
  if (OpenProcessToken(process, TOKEN_QUERY, &token)) {
    // The label holds a SID of at most the largest size.
    union {
      TOKEN_MANDATORY_LABEL label;
      BYTE bytes[sizeof(TOKEN_MANDATORY_LABEL) + SECURITY_MAX_SID_SIZE];
    } label;
    DWORD size = sizeof label;
    if (GetTokenInformation(token, TokenIntegrityLevel, &label, size, &size)) {
      PSID sid = label.label.Label.Sid;
      UCHAR count = *GetSidSubAuthorityCount(sid);
      if (count > 0) level = *GetSidSubAuthority(sid, count - 1);
    }
    CloseHandle(token);
  }
  CloseHandle(process);
  return level;
}

bool ReadTokenUser(HANDLE token, TokenUserRecord* user) {
  DWORD size = sizeof *user;
  return GetTokenInformation(token, TokenUser, user, size, &size) != FALSE;
}

bool ReadProcessUser(HANDLE process, PSID sid, DWORD size) {
  HANDLE token = nullptr;
  if (!OpenProcessToken(process, TOKEN_QUERY, &token)) return false;
  TokenUserRecord user;
  bool copied = ReadTokenUser(token, &user) && CopySid(size, sid, user.user.User.Sid);
  CloseHandle(token);
  return copied;
}
