// tmp-n, the folder the payload is unpacked into, and where it is made. An
// elevated run makes it where only administrators can change anything: beside
// the extractor with a DACL of SYSTEM and Administrators alone, or, where the
// extractor's volume cannot keep others out (no ACLs, as on FAT and exFAT
// sticks and many shares, or a network volume, where the server grants what
// the user has there), in a protected folder of this machine
// (security/protected_place.h). A run that is not elevated makes it beside
// the extractor, for its user. tmp-n is held from the moment it exists until
// its removal: nobody can move, rename or delete it meanwhile, or put
// something else in its place.
#pragma once

#include <windows.h>

#include "support/held_folder.h"

const int kMaxTempDirectoryNumber = 49;

// Makes "<base>\<stem>-<n>" for the lowest n from 1 to 49 whose name is
// free, relative to the held base, and holds it in *made: 0. A name that
// exists, whatever holds it, is passed over and never touched; any other
// failure ends the attempts and hands the failed candidate back, unheld,
// which the first entry then fails on, and its error code is returned. All
// 49 taken raises "Can't create tmp directory".
DWORD CreateTempDirectory(const HeldFolder& base, const wchar_t* stem,
                          HeldFolder* made);

// tmp-n, made as CreateTempDirectory makes it, in the held extractor folder
// or, for an elevated run whose extractor folder's volume cannot keep others
// out, in the protected folder, held in *place, with one log line saying
// where and why: in SystemTemp where it can be made there, else in the own
// folder in C:\ProgramData. No protected folder that can be used stops the
// run with "Can't create tmp directory", saying why.
DWORD MakeTempDirectory(const HeldFolder& extractorFolder, const wchar_t* stem,
                        HeldFolder* place, HeldFolder* made);

// Why the directory made could not be protected, or null: no descriptor
// could be built for this process's token.
const wchar_t* TempDirectoryWeakness();
