// tmp-n, the folder beside the extractor that the payload is unpacked into.
// The extractor runs elevated from a folder that others can write, so tmp-n
// is made with a protected DACL and held from the moment it exists: while it
// is held nobody can move, rename or delete it, or put something else in its
// place.
#pragma once

#include <windows.h>

const int kMaxTempDirectoryNumber = 49;

// path: the base folder in (kPathSize units), the directory made out:
// "<base>\<stem>-<n>" for the lowest n from 1 to 49 whose name is free. A
// name that exists, whatever holds it, is passed over and never touched; any
// other failure ends the attempts and hands the failed candidate back, which
// the first entry then fails on. All 49 taken raises "Can't create tmp
// directory". The directory made is handed back as the system resolved it
// (unchanged when that differs only in letter case), so that a link above
// the extractor, re-pointed later, redirects nothing; one whose resolved
// path cannot be had raises too.
void CreateTempDirectory(wchar_t* path, const wchar_t* stem);

// Why the directory made could not be protected, or null: no descriptor
// could be built for this process's token, or its volume keeps no ACLs.
const wchar_t* TempDirectoryWeakness();

// Hands the held directory over for its removal (see
// DeleteHeldDirectoryTree), which closes it; INVALID_HANDLE_VALUE when none
// is held.
HANDLE TakeTempDirectory();

// Lets go of tmp-n. Without it, or its removal, tmp-n stays held until the
// process ends.
void ReleaseTempDirectory();

// True while the directory that CreateTempDirectory made is held.
bool TempDirectoryHeld();
