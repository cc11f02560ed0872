// After the setup program: finds the installed application, asks whether to
// start it, starts it (through its launcher when one lies beside it) and
// removes the launcher.
#pragma once

const wchar_t kFixedInstallFolder[] = L"C:\\Talvorn\\";
const wchar_t kApplicationName[] = L"Talvorn Server.exe";
const wchar_t kLauncherName[] = L"Launcher.exe";
const unsigned kLauncherDeleteDelayMs = 1000;

// 1 when an installed application was found (the question was then asked),
// 0 when none was found (nothing asked, started or deleted).
int CompleteInstall(const wchar_t* tempDirectory);
