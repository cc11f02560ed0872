// Who a process runs as, and its integrity level, which Windows gives every
// process's token (0x2000 medium for a standard user's programs, 0x3000 high
// for elevated ones, 0x4000 system). A lower level cannot change a higher
// process, but may show windows of any title.
#pragma once

#include <windows.h>

// A token's user: TOKEN_USER with room for a SID of the largest size.
union TokenUserRecord {
  TOKEN_USER user;
  BYTE bytes[sizeof(TOKEN_USER) + SECURITY_MAX_SID_SIZE];
};
// Reads it from a token opened with TOKEN_QUERY.
bool ReadTokenUser(HANDLE token, TokenUserRecord* user);

// Copies the user SID of the process's token (the process opened with
// PROCESS_QUERY_LIMITED_INFORMATION) into sid, of size bytes: what
// seams::processUser starts out as. False when it cannot be read.
bool ReadProcessUser(HANDLE process, PSID sid, DWORD size);

// The last sub-authority (RID) of the label SID of the process's token; 0
// when the process, its token or its label cannot be read.
DWORD ProcessIntegrityLevel(DWORD processId);
