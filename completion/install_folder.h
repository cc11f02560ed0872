// The fixed install folder "C:\Talvorn\" as the run makes, fills and starts
// from it. A standard user may make that name first (as a junction to
// somewhere else, or as a folder of their own) or, where it inherits C:\'s
// permissions, fill it: nothing there is written through a link, the copy is
// written through handles of this run, and nothing there that a
// non-administrator could have planted or changed is started elevated.
#pragma once

#include <windows.h>

#include "support/held_folder.h"

// Makes the folder, or takes the one that is there (never a link or
// junction: ERROR_REPARSE_POINT_ENCOUNTERED, and it is not followed), and
// holds it (a hold another program's open excludes for a moment is tried
// again). Elevated, it is made with the protected descriptor (owner
// Administrators; BUILTIN\Users may read and run), or the existing folder
// itself is brought under it, nothing inside re-permissioned; one that cannot
// be is logged and not trusted. One that others could change until then is
// emptied through handles, each entry that stays logged. Not elevated, it is
// made with the default descriptor, or taken as it is. 0, or the system's
// error code.
DWORD PrepareInstallFolder();

// Copies name from the held source folder into the held install folder,
// through handles: an old entry of that name loses its name through a handle
// on itself first (a link, or a hard link, leaves what it points at alone;
// one the system cannot open as itself stops the copy with
// ERROR_REPARSE_POINT_ENCOUNTERED), the copy is made afresh relative to the
// held folder (owned by Administrators when elevated), and afterwards the
// folder must still be no link. The copy is then held, readable, until the
// folder is let go of. 0, or the system's error code.
DWORD CopyIntoInstallFolder(const HeldFolder& source, const wchar_t* name);

// True when the folder lets a program in it start elevated this run: this run
// made it, or found it closed to others and protected it, or (without a basic
// install) only administrators can change it now; and every entry in it is
// this run's copy or can be changed by administrators alone. A folder that
// others could change before this run protected it is not trusted in this
// run: a handle opened on it before keeps its rights.
bool InstallFolderTrusted();

// The folder held as itself for the search of the installed application (as
// the basic install holds it): null when it is not there, or is a link or a
// junction, which is logged, or cannot be held.
const HeldFolder* InstallFolderForSearch();

// True when the open folder is the one this run holds as C:\Talvorn, by its
// identity (volume and file ID), however it was named or reached.
bool IsInstallFolder(HANDLE entry);

// Lets go of the folder and the copy, and forgets this run's work on it.
void ReleaseInstallFolder();
