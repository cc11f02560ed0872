// The extractor's own folder, where its log and (usually) tmp-n are made. It
// is held from the start of the run, before the dialog shows: the extractor
// may have been started through a link that someone re-points while it
// runs, and everything it writes there is made relative to the held folder,
// never again by the name.
#pragma once

#include <windows.h>

#include "support/held_folder.h"

// Holds the folder the running image lies in: on Windows, by the name the
// system gives the mapped image (its real place, whatever link it was
// started through); otherwise by the module path's folder. Its path is the
// module path's folder, or where the folder really lies when a link was
// followed (see HoldExtractorFolder). Once per run; later calls do nothing.
void HoldOwnFolder();

// The held folder (unheld with an empty path when the module path cannot be
// had), and why where it lies could not be read (0 when it could).
const HeldFolder& OwnFolder();
DWORD OwnFolderError();

// Lets go of it; the next HoldOwnFolder holds it afresh.
void ReleaseOwnFolder();

// Holds the folder at path as its name leads now, and sets the held folder's
// path to where it really lies, unless that differs only in letter case. 0,
// or why where it lies could not be read (as on a volume without a drive
// letter): the path then stays as given, and the held folder still keeps
// the run in place.
DWORD HoldExtractorFolder(const wchar_t* path, HeldFolder* folder);
