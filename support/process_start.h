// Starting a program by its file. ShellExecuteW would look the program up
// through the file types of the registry, where the user's own hive
// (HKCU\Software\Classes) overrides the machine's: a command planted there by
// any program of the user would run in the elevated run's place. So programs
// are started with CreateProcessW, the file named as the application.
#pragma once

#include <windows.h>

// Starts app, shown normally, with the command line "app" parameters
// (parameters may be null) in folder (null: this process's current folder).
// With a parent (a process opened with PROCESS_CREATE_PROCESS, see
// security/elevation.h), as that process's child, which gives it that
// process's token. Returns a value above 32 when it started, otherwise the
// number ShellExecuteW gives for the same cause (2 for a missing file, 5 for
// access denied, ...), which the launch-failure message shows, with the
// system's error code in *error (0 when it started), which the log gets in a
// line of its own. A program that needs
// elevation, asked for by a run that is not elevated, is left to the shell,
// which asks for it: the run then holds no more rights than the user.
int StartProgram(const wchar_t* app, const wchar_t* parameters,
                 const wchar_t* folder, HANDLE parent, DWORD* error);
