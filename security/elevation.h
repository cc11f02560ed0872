// Whether this run is elevated, and how a program starts as the person at the
// keyboard. A program that others could have changed must not start with an
// administrator's rights; started as the signed-in user, it gets no more
// than that user's own double click would give it.
#pragma once

#include <windows.h>

// True when the token holds the Administrators group enabled (not only for
// deny, as a filtered token of an administrator does): the run is elevated.
bool TokenIsAdministrator(HANDLE token);

// True when the token the run acts with (this thread's, where it has one, or
// this process's) holds Administrators enabled.
bool RunIsElevated();

// The desktop shell's process (the shell window's, or where there is none the
// taskbar's, as under Wine), opened to be the parent of a program started as
// the signed-in user: a process made with it as its parent
// (PROC_THREAD_ATTRIBUTE_PARENT_PROCESS) gets its token, with no service
// (CreateProcessWithTokenW needs Secondary Logon, which hardened machines
// turn off). Never a service account's, such as SYSTEM's. Null when none can
// be had, with the reason in *why; close it with CloseHandle.
HANDLE SignedInUserProcess(const wchar_t** why);
