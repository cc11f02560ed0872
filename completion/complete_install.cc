#include "completion/complete_install.h"

#include <windows.h>
#include <shellapi.h>

#include <cstdlib>

#include "completion/install_folder.h"
#include "support/admin_control.h"
#include "support/file_entry.h"
#include "support/file_util.h"
#include "support/seams.h"
#include "support/text.h"

namespace {

// A file this run holds exists, although the test's open without sharing
// would fail on it.
bool Exists(const wchar_t* path) {
  return InstallFolderHolds(path) || FileExists(path);
}

// The search's four places, in order; each leaves the candidate in app (or
// empty) and says whether the search stops there.

// On a volume that keeps no ACLs (an installer stick) anyone may have written
// the hand-off file into tmp-n: the program it names is then started only if
// only administrators can change it and its folder.
bool HandOffBelieved(const wchar_t* tempDirectory, const wchar_t* named) {
  HANDLE folder = OpenEntry(tempDirectory, FILE_READ_ATTRIBUTES, kShareAll);
  bool keepsAcls = folder != INVALID_HANDLE_VALUE && VolumeKeepsAcls(folder);
  if (folder != INVALID_HANDLE_VALUE) CloseHandle(folder);
  if (keepsAcls) return true;
  wchar_t parent[MAX_PATH];
  CopyText(parent, MAX_PATH, named);
  CutLastComponent(parent);
  return OnlyAdministratorsCanChangePath(named) &&
         OnlyAdministratorsCanChangePath(parent);
}

// The hand-off file names the executable itself, in UTF-16LE without a BOM.
bool FromHandOffFile(const wchar_t* tempDirectory, wchar_t* app) {
  wchar_t handOff[MAX_PATH];
  JoinPath(handOff, MAX_PATH, tempDirectory, L"InstalledApp.txt");
  uint8_t* text = ReadFileContents(handOff);
  if (text == nullptr) return false;
  const wchar_t* named = reinterpret_cast<const wchar_t*>(text);
  // A path that does not fit the buffer is passed over like any other that
  // names no file.
  bool found = lstrlenW(named) < MAX_PATH && Exists(named) &&
               HandOffBelieved(tempDirectory, named);
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
  if (!JoinPath(app, MAX_PATH, folder, kApplicationName) || !Exists(app)) {
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

// The fixed folder is the one place a standard user may have prepared: only
// what nobody but administrators could have planted or changed is started.
bool FromFixedFolder(wchar_t* app) {
  if (!FromFolder(app, kFixedInstallFolder)) return false;
  wchar_t launcher[MAX_PATH];
  if (!JoinPath(launcher, MAX_PATH, kFixedInstallFolder, kLauncherName) ||
      !InstallFolderTrusted(app, launcher)) {
    app[0] = 0;
  }
  return app[0] != 0;
}

}  // namespace

int CompleteInstall(const wchar_t* tempDirectory) {
  wchar_t app[MAX_PATH] = {};
  // A registry value that names a folder ends the search there, found or not.
  if (!FromHandOffFile(tempDirectory, app) && !FromRegistry(app) &&
      !FromProgramFiles(app)) {
    FromFixedFolder(app);
  }
  if (app[0] == 0 || !Exists(app)) return 0;

  // The launcher lies beside the application.
  wchar_t appFolder[MAX_PATH];
  CopyText(appFolder, MAX_PATH, app);
  CutLastComponent(appFolder);
  wchar_t launcher[MAX_PATH];
  JoinPath(launcher, MAX_PATH, appFolder, kLauncherName);
  // "C:" alone would name the drive's current directory, not its root.
  if (lstrlenW(appFolder) == 2) AppendBackslash(appFolder, MAX_PATH);

  int answer = seams::messageBoxA(
      nullptr, "Do you wish to launch the application now?", "Complete",
      MB_OKCANCEL | MB_ICONQUESTION);
  if (answer == IDOK) {
    wchar_t parameters[MAX_PATH];
    // Started in its own folder: elevated, it must not find its current
    // directory, or libraries by that, in the extractor's download folder.
    // Parameters that would be cut would hand the launcher a wrong path: the
    // application is then started directly.
    if (Exists(launcher) &&
        FormatText(parameters, MAX_PATH, L"\"%s\"", app)) {
      ShellExecuteW(nullptr, L"open", launcher, parameters, appFolder,
                    SW_SHOWNORMAL);
    } else {
      ShellExecuteW(nullptr, L"open", app, nullptr, appFolder, SW_SHOWNORMAL);
    }
  }
  // Started: the launcher can be let go of, and deleted.
  ReleaseInstalledFiles();
  if (FileExists(launcher)) {
    seams::sleep(kLauncherDeleteDelayMs);
    DeleteFileW(launcher);
  }
  return 1;
}
