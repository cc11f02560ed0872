#include "completion/complete_install.h"

#include <windows.h>
#include <shellapi.h>

#include <cstdlib>

#include "support/file_util.h"
#include "support/seams.h"
#include "support/text.h"

namespace {

// The search's four places, in order; each leaves the candidate in app (or
// empty) and says whether the search stops there.

// The hand-off file names the executable itself, in UTF-16LE without a BOM.
bool FromHandOffFile(const wchar_t* tempDirectory, wchar_t* app) {
  wchar_t handOff[MAX_PATH];
  JoinPath(handOff, MAX_PATH, tempDirectory, L"InstalledApp.txt");
  uint8_t* text = ReadFileContents(handOff);
  if (text == nullptr) return false;
  const wchar_t* named = reinterpret_cast<const wchar_t*>(text);
  // A path that does not fit the buffer is passed over like any other that
  // names no file.
  bool found = lstrlenW(named) < MAX_PATH && FileExists(named);
  if (found) CopyText(app, MAX_PATH, named);
  std::free(text);
  return found;
}

// InstPath names the install folder. It is read with room for 260 bytes, so
// a value of 130 characters or more does not fit and counts as absent.
bool FromRegistry(wchar_t* app) {
  HKEY key;
  if (RegOpenKeyW(HKEY_LOCAL_MACHINE, L"Software\\Talvorn", &key) !=
      ERROR_SUCCESS) {
    return false;
  }
  ZeroMemory(app, MAX_PATH * sizeof(wchar_t));
  DWORD type = REG_SZ;
  DWORD size = 260;
  if (RegQueryValueExW(key, L"InstPath", nullptr, &type,
                       reinterpret_cast<BYTE*>(app), &size) != ERROR_SUCCESS) {
    app[0] = 0;
  }
  RegCloseKey(key);
  if (app[0] == 0 || !(FolderExists(app) || FileExists(app))) {
    app[0] = 0;
    return false;
  }
  if (!AppendBackslash(app, MAX_PATH) ||
      !AppendText(app, MAX_PATH, kApplicationName)) {
    app[0] = 0;
  }
  return true;
}

bool FromFolder(wchar_t* app, const wchar_t* folder) {
  if (!JoinPath(app, MAX_PATH, folder, kApplicationName) || !FileExists(app)) {
    app[0] = 0;
  }
  return app[0] != 0;
}

bool FromProgramFiles(wchar_t* app) {
  wchar_t programFiles[MAX_PATH];
  if (!GetProgramFilesFolder(programFiles) ||
      !AppendText(programFiles, MAX_PATH, L"Talvorn")) {
    app[0] = 0;
    return false;
  }
  return FromFolder(app, programFiles);
}

}  // namespace

int CompleteInstall(const wchar_t* tempDirectory) {
  wchar_t app[MAX_PATH] = {};
  // A registry value that names a folder ends the search there, found or not.
  if (!FromHandOffFile(tempDirectory, app) && !FromRegistry(app) &&
      !FromProgramFiles(app)) {
    FromFolder(app, kFixedInstallFolder);
  }
  if (app[0] == 0 || !FileExists(app)) return 0;

  // The launcher lies beside the application.
  wchar_t appFolder[MAX_PATH];
  CopyText(appFolder, MAX_PATH, app);
  CutLastComponent(appFolder);
  wchar_t launcher[MAX_PATH];
  JoinPath(launcher, MAX_PATH, appFolder, kLauncherName);

  int answer = seams::messageBoxA(
      nullptr, "Do you wish to launch the application now?", "Complete",
      MB_OKCANCEL | MB_ICONQUESTION);
  if (answer == IDOK) {
    wchar_t parameters[MAX_PATH];
    // Parameters that would be cut would hand the launcher a wrong path: the
    // application is then started directly.
    if (FileExists(launcher) &&
        FormatText(parameters, MAX_PATH, L"\"%s\"", app)) {
      ShellExecuteW(nullptr, L"open", launcher, parameters, nullptr,
                    SW_SHOWNORMAL);
    } else {
      ShellExecuteW(nullptr, L"open", app, nullptr, nullptr, SW_SHOWNORMAL);
    }
  }
  if (FileExists(launcher)) {
    seams::sleep(kLauncherDeleteDelayMs);
    DeleteFileW(launcher);
  }
  return 1;
}
