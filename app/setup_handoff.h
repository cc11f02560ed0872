// Starts the setup program from tmp-n, follows it by its window titles, judges
// the outcome, completes or offers the basic install, and removes tmp-n.
#pragma once

#include <windows.h>

#include "support/held_folder.h"

const size_t kArgumentSize = 3000;
const DWORD kAppearanceWaitMs = 10000;
const DWORD kAppearancePollMs = 100;
const DWORD kDisappearancePollMs = 200;

// Set when a poll meets the window titled "Talvorn Installer: Installing".
extern int installingSeen;

// Ends the progress dialog (result 0) on every path; returns the result of
// removing tmp-n, which it lets go of.
int RunSetupProgram(HWND dialog, HeldFolder* tempDirectory);

// What a window's whole title, compared byte for byte, says of the setup
// program: "Talvorn Installer" (running), "Talvorn Installer: Installing",
// or neither (also for a window without a title, and for one of a process
// below this one's integrity level or of a level that cannot be read).
enum class SetupTitle { kNone, kRunning, kInstalling };
SetupTitle SetupTitleOf(HWND window);

// 1 when some top-level window (visible or not, of a process at this one's
// integrity level or above) bears one of the two setup titles; the first such
// window in enumeration order decides.
int FindSetupWindow();

// Waits up to 10 s for a setup window to appear, then until none is left.
void WaitForSetupWindow();

// Appends ["<base64 of path's UTF-16LE bytes>"] to arguments (kArgumentSize
// units), after a comma unless arguments is empty.
void AppendEncodedArgument(wchar_t* arguments, const wchar_t* path);

// Test hook.
void ResetHandoffForTesting();
