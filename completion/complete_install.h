// After the setup program: finds the installed application, asks whether to
// start it, starts it (through its launcher when one lies beside it) and
// removes the launcher.
#pragma once

#include "support/held_folder.h"

const wchar_t kFixedInstallFolder[] = L"C:\\Talvorn\\";
const wchar_t kApplicationName[] = L"Talvorn Server.exe";
const wchar_t kLauncherName[] = L"Launcher.exe";
const unsigned kLauncherDeleteDelayMs = 1000;

// 1 when an installed application was found (the question was then asked),
// 0 when none was found (nothing asked, started or deleted). The application
// and its launcher are held from before the question until they have been
// started, and start elevated only from where administrators alone can
// change them, their folder and everything in it; from anywhere else, as
// the signed-in user, with a log line saying why.
int CompleteInstall(const HeldFolder& tempDirectory);
