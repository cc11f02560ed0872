// Whether only administrators can change a file or folder. The elevated run
// starts programs from the fixed install folder, which a standard user may
// have made, and so may own and fill, before the first install.
#pragma once

#include <windows.h>

// True when the descriptor's owner and every ACE that grants a right to
// change the object (its data, its DACL or owner, its deletion, or, for a
// folder, what is in it) belong to SYSTEM, Administrators or TrustedInstaller.
// An owner outside them may always rewrite the DACL, unless an OWNER RIGHTS
// ACE takes that right away. ACEs passed on only to children do not count;
// anything this check cannot read counts against the object.
bool OnlyAdministratorsCanChange(PSECURITY_DESCRIPTOR descriptor);

// The same for an open entry (opened with READ_CONTROL); false when its
// descriptor cannot be read.
bool OnlyAdministratorsCanChangeEntry(HANDLE entry);

// The same for the entry at path, opened on itself, which must be no link and
// lead nowhere else.
bool OnlyAdministratorsCanChangePath(const wchar_t* path);
