// The security descriptors of what the run makes. The extractor runs elevated
// beside files that others can change: what it makes gets a DACL of its own,
// inheriting nothing from around it, which everything made inside inherits
// in turn, and Administrators as the owner, set explicitly so that the policy
// "Default owner for objects created by members of the Administrators group:
// Object creator" changes nothing.
#pragma once

#include <windows.h>

// Rights granted by the descriptors.
const DWORD kFullControl = FILE_ALL_ACCESS;
const DWORD kReadAndExecute = FILE_GENERIC_READ | FILE_GENERIC_EXECUTE;

// An absolute descriptor whose DACL and owner lie inside the record: build it
// in place and do not copy it.
struct FolderSecurity {
  SECURITY_DESCRIPTOR descriptor;
  DWORD acl[128];  // room for five ACEs with SIDs of any length
  BYTE owner[SECURITY_MAX_SID_SIZE];
};

// tmp-n's, from the token (opened with TOKEN_QUERY). Elevated: full control
// for SYSTEM and Administrators and nobody else, owner Administrators, and an
// OWNER RIGHTS ACE that leaves whoever comes to own a file inside (the setup
// program's files, under "Object creator") no more than reading its
// descriptor: an owner may otherwise always rewrite the DACL. Not elevated:
// full control for SYSTEM, Administrators and the token's user, the token's
// default owner, and OWNER RIGHTS read and execute. Each ACE is passed on to
// files and folders inside; the DACL is protected. False, with nothing
// usable built, when the token cannot be read.
bool BuildTempSecurity(HANDLE token, FolderSecurity* security);

// The elevated run's tmp-n descriptor above, which needs no token: for the
// protected folder tmp-n may be made in.
bool BuildAdministratorsSecurity(FolderSecurity* security);

// C:\Talvorn's, for an elevated run: full control for SYSTEM and
// Administrators, read and execute for BUILTIN\Users (as under Program Files:
// the people who start the application later), OWNER RIGHTS read and
// execute, owner Administrators, passed on and protected.
bool BuildInstallFolderSecurity(FolderSecurity* security);

// For what the run makes: that owner when the run is elevated, set
// explicitly so that the owner policy "Object creator" gives its user none of
// it; null (the default owner) otherwise, or when it cannot be built.
SECURITY_DESCRIPTOR* RunOwnerSecurity(FolderSecurity* security);
