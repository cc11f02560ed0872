// The progress dialog (resource 1000): the extractor's only window. Its first
// timer tick that finds it on screen runs the whole work sequence, once.
#pragma once

#include <windows.h>

const int kProgressDialogId = 1000;
const int kStatusLineId = 1001;

INT_PTR CALLBACK ProgressDialogProc(HWND dialog, UINT message, WPARAM wParam,
                                    LPARAM lParam);

// Unpack, release zlib, hand off to the setup program, delete the log; a
// CException ends the dialog with 2 and leaves everything in place.
void RunWorkSequence(HWND dialog);
