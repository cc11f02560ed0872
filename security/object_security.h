// The security of the named objects that keep one run at a time. Anyone may
// create a name in the global namespace first; what tells the extractor's own
// object from a squatter's is its owner, since only a token that holds
// Administrators can make that group the owner of an object.
#pragma once

#include <windows.h>

// An absolute descriptor whose owner and DACL lie inside the record: build it
// in place and do not copy it.
struct ObjectSecurity {
  SECURITY_DESCRIPTOR descriptor;
  BYTE owner[SECURITY_MAX_SID_SIZE];
  DWORD acl[64];  // room for three ACEs with SIDs of any length
};

// From the token (opened with TOKEN_QUERY), with Administrators enabled:
// owner Administrators, a protected DACL granting rights to SYSTEM and
// Administrators only. Otherwise the token's user as owner, and the DACL
// grants the user too. False, with nothing usable built, when the token
// cannot be read.
bool BuildObjectSecurity(HANDLE token, DWORD rights, ObjectSecurity* security);

// True when the object (a handle with READ_CONTROL) is owned by Administrators
// or SYSTEM, or, for a token without Administrators enabled, by the token's
// user: the owners that a run given that token or an elevated run has. False
// when the owner cannot be read.
bool OwnedLikeARun(HANDLE object, HANDLE token);
