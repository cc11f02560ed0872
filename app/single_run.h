// One run at a time on this machine. A second copy started while one runs (a
// double click, another folder, another user) would start a second setup
// program into the same program folder and follow the first one's windows.
#pragma once

#include <windows.h>

// The object that the first run holds for its whole life.
extern const wchar_t kSingleRunName[];

// True for the only run. False when another copy holds the object: this one
// then brings that copy's window to the front and should end at once. When
// the object cannot be made at all the run goes ahead.
bool ClaimSingleRun();

// Marks the progress dialog, so that a second copy can find the first one.
void MarkRunWindow(HWND dialog);
