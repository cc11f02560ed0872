// The fixed install folder "C:\Talvorn\" as the elevated run makes, fills and
// starts from it. A standard user may make that name first (as a junction to
// somewhere else, or as a folder of their own) or, where it inherits C:\'s
// permissions, fill it: nothing there is written through a link, and nothing
// there that a non-administrator could have planted or changed is started.
#pragma once

#include <windows.h>

// Makes the folder with tmp-n's protected descriptor, or takes the one that
// is there and brings it under that descriptor (owner included; what is
// inside keeps its own), and holds it. 0, or the system's error code: for a
// folder that is a link or junction, ERROR_REPARSE_POINT_ENCOUNTERED, and it
// is never followed.
DWORD PrepareInstallFolder();

// Before the copy to path: an existing file there that is a link, or has
// other names, loses its name, so that the copy writes no other file. False,
// with the error code, when that cannot be done without following the link.
bool ClearCopyTarget(const wchar_t* path, DWORD* error);

// After the copy: the copy at path is held, without write or delete sharing,
// until it has been started, and known as this run's own.
void HoldInstalledCopy(const wchar_t* path);

// True when app (in the fixed folder) may be started, and then app and, if
// present, launcher are held until ReleaseInstallFolder: the folder is no
// link, and either this run made or protected it and it was not open to
// others before, or (no basic install this run) it is protected now; and
// every entry in it is this run's copy or can be changed only by
// administrators, and is no link.
bool InstallFolderTrusted(const wchar_t* app, const wchar_t* launcher);

// True while path is one of the files held here (which then counts as
// existing, although an open without sharing would fail).
bool InstallFolderHolds(const wchar_t* path);

// Lets go of the held files, or of everything and forgets this run's work
// on the folder.
void ReleaseInstalledFiles();
void ReleaseInstallFolder();
