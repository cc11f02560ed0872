// One run at a time on this machine. A second copy started while one runs (a
// double click, another folder, another user) would start a second setup
// program into the same program folder and follow the first one's windows.
#pragma once

#include <windows.h>

// True for the only run, which holds a mutex for its whole life: in a private
// namespace only administrators can reach, or, where that cannot be made or
// opened, "Global\TalvornExtractorRun". False when another copy holds it:
// this one then brings that copy's window to the front and should end at
// once. A name that someone else took first does not count (see
// security/object_security.h), and when no object can be made at all the run
// goes ahead.
bool ClaimSingleRun();

// Marks the progress dialog, so that a second copy can find the first one.
void MarkRunWindow(HWND dialog);
