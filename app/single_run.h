// One run at a time on this machine. A second copy started while one runs (a
// double click, another folder, another user) would start a second setup
// program into the same program folder and follow the first one's windows.
#pragma once

#include <windows.h>

// True for the only run, which holds the mutex "Global\TalvornExtractorRun"
// for its whole life. False when another copy holds it: this one
// then brings that copy's window to the front and should end at once. When
// the object cannot be made at all the run goes ahead.
bool ClaimSingleRun();

// Marks the progress dialog, so that a second copy can find the first one.
void MarkRunWindow(HWND dialog);
