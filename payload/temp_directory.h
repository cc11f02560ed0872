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
// directory".
void CreateTempDirectory(wchar_t* path, const wchar_t* stem);

// Lets go of tmp-n right before it is removed. Without it, tmp-n stays held
// until the process ends.
void ReleaseTempDirectory();

// True while the directory that CreateTempDirectory made is held.
bool TempDirectoryHeld();
