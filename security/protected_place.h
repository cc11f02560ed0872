// Where an elevated run unpacks when the extractor's own volume cannot keep
// others out: a folder of this machine that only administrators can change,
// below folders in which nobody else can move, delete or re-permission
// anything. In order:
//  1. %SystemRoot%\SystemTemp, where Windows has it (Windows 11 24H2, and
//     Windows 10 with the 2025 updates), used as it is;
//  2. "Talvorn Extractor" in the machine's application data folder
//     (C:\ProgramData), made protected and owned by Administrators with
//     FILE_CREATE, or, where the name exists, used only if administrators
//     alone control it.
// Both names come from the system (GetSystemWindowsDirectoryW, the shell's
// folder), never from the environment, which the user sets. Every folder on
// the way is held as itself, never through a link.
#pragma once

#include <windows.h>

#include "support/held_folder.h"

// True with the place held in *place. False with *place's path naming the
// place refused and the reason in *refusal.
bool HoldProtectedPlace(HeldFolder* place, const wchar_t** refusal);
