// Where an elevated run unpacks when the extractor's own volume cannot keep
// others out: a folder of this machine that only administrators can change,
// below folders in which nobody else can move, delete or re-permission
// anything. In order:
//  1. %SystemRoot%\SystemTemp, where Windows has it (Windows 11 24H2, and
//     Windows 10 with the 2025 updates), used as it is, but only where this
//     run can make tmp-n in it: Microsoft documents it as inaccessible to
//     processes other than SYSTEM, and an administrator's run is not one
//     (https://learn.microsoft.com/windows/win32/api/fileapi/nf-fileapi-gettemppath2w);
//  2. "Talvorn Extractor" in the machine's application data folder
//     (C:\ProgramData), made protected and owned by Administrators with
//     FILE_CREATE, or, where the name exists, used only if administrators
//     alone control it. Any user may make that name first; the run then
//     makes "Talvorn Extractor-<8 random hex digits>" the same way, so that
//     no name taken beforehand keeps it out.
// Both names come from the system (GetSystemWindowsDirectoryW, the shell's
// folder), never from the environment, which the user sets. Every folder on
// the way is held as itself, never through a link; the place itself is held
// without delete sharing.
#pragma once

#include <windows.h>

#include "support/held_folder.h"

// SystemTemp held in *place, where it exists and administrators alone
// control it and the folders above it: true. Whether this run may make
// anything in it only making tmp-n there tells.
bool HoldSystemTemp(HeldFolder* place);

// The folder in the machine's application data folder held in *place: true.
// False, with the reason logged, when none can be used.
bool HoldProtectedFolder(HeldFolder* place);

// Logs "Protected folder <path> is not used: <why>".
void LogPlaceRefused(const wchar_t* path, const wchar_t* why);
