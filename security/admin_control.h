// Whether only administrators can change a file or folder: the judge of
// everything the elevated run starts or unpacks into. It asks who could have
// put the entry there: a standard user may make a folder under C:\, own and
// fill it, and give each entry any DACL.
#pragma once

#include <windows.h>

#include "support/held_folder.h"

// True when the descriptor's owner is SYSTEM, Administrators or
// TrustedInstaller, and every ACE that grants a right to change the object
// (its data, attributes or extended attributes, its DACL or owner, its
// deletion, or, for a folder, what is in it) belongs to one of them or to
// OWNER RIGHTS (which then means that owner). ACEs passed on only to
// children do not count; anything this check cannot read counts against the
// object.
bool OnlyAdministratorsCanChange(PSECURITY_DESCRIPTOR descriptor);

// The same for a folder above what the run uses, which others may add
// entries to (C:\, C:\ProgramData) but must not be able to rename, delete,
// replace or re-permission anything in: only the rights to delete, to
// delete children, and to rewrite the DACL or owner count.
bool OnlyAdministratorsCanMoveWithin(PSECURITY_DESCRIPTOR descriptor);

// The judgements for an open entry (opened with READ_CONTROL), its
// descriptor read through seams::entrySecurity; false when it cannot be read.
bool OnlyAdministratorsCanChangeEntry(HANDLE entry);
bool OnlyAdministratorsCanMoveWithinEntry(HANDLE entry);

// Every entry of the held folder, other than the one whose identity is
// skipped (this run's own copy; null for none), is no link and can be changed
// by administrators alone. A program's own folder comes first in its DLL
// search, so a planted library runs with it as much as a planted launcher.
bool EveryEntryOnlyAdministrators(const HeldFolder& folder,
                                  const BY_HANDLE_FILE_INFORMATION* skipped);
