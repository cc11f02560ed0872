// The security descriptor that tmp-n is made with. The extractor runs
// elevated in a folder that others can write; tmp-n gets a DACL of its own,
// inheriting nothing from that folder, which everything made inside it
// inherits in turn.
#pragma once

#include <windows.h>

// Rights granted by the descriptor.
const DWORD kFullControl = FILE_ALL_ACCESS;
const DWORD kReadAndExecute = FILE_GENERIC_READ | FILE_GENERIC_EXECUTE;

// An absolute descriptor whose DACL lies inside the record: build it in place
// and do not copy it.
struct FolderSecurity {
  SECURITY_DESCRIPTOR descriptor;
  DWORD acl[128];  // room for four ACEs with SIDs of any length
  BYTE owner[SECURITY_MAX_SID_SIZE];
};

// True when the token holds the Administrators group enabled (not only for
// deny, as a filtered token of an administrator does).
bool TokenIsAdministrator(HANDLE token);

// From the token (opened with TOKEN_QUERY): a protected DACL, each ACE passed
// on to files and folders inside. With Administrators enabled: full control
// for SYSTEM and Administrators, read and execute for the token's user, who
// can still look at a folder left for diagnosis, and Administrators as the
// owner. Otherwise full control for SYSTEM, Administrators and the user, and
// the token's default owner. Either way an OWNER RIGHTS ACE limits whoever
// comes to own a file inside to read and execute: an owner may otherwise
// always rewrite the DACL, and under the policy "Object creator" an
// administrator's user owns what the elevated run creates. No group or SACL.
// False, with nothing usable built, when the token cannot be read.
bool BuildFolderSecurity(HANDLE token, FolderSecurity* security);
