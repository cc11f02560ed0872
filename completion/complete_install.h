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
// 0 when none was found (nothing asked, started or deleted). Each place's
// folder is held, and the application and its launcher are opened relative
// to it and held from before the question until they have been started; what
// is started, and its working folder, are named by where those handles lie.
// C:\Talvorn is taken only as itself: a link there holds no application (one
// log line says so). They start elevated only from where administrators
// alone can change them, their folder and everything in it (C:\Talvorn,
// known by its identity, as this run left it); from anywhere else, as the
// signed-in user, with a log line saying why.
int CompleteInstall(const HeldFolder& tempDirectory);
