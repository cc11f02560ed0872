// Whether this run is elevated, and the token of the person at the keyboard.
// A program that others could have changed must not start with an
// administrator's rights; started as the signed-in user, it gets no more
// than that user's own double click would give it.
#pragma once

#include <windows.h>

// True when the token the run acts with (this thread's, where it has one, or
// this process's) holds Administrators enabled.
bool RunIsElevated();

// A primary token of the signed-in user, taken from the desktop shell's
// process (the shell window's, or where there is none the taskbar's, as
// under Wine), for CreateProcessWithTokenW. Never that of a service account
// such as SYSTEM. Null when none can be had, with the reason in *why; close
// it with CloseHandle.
HANDLE SignedInUserToken(const wchar_t** why);
