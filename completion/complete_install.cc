#include "completion/complete_install.h"

#include <windows.h>

#include <cstdlib>

#include "completion/install_folder.h"
#include "security/admin_control.h"
#include "security/elevation.h"
#include "support/file_entry.h"
#include "support/file_util.h"
#include "support/log.h"
#include "support/process_start.h"
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

// The hand-off file names the executable itself, in UTF-16LE without a BOM.
bool FromHandOffFile(const HeldFolder& tempDirectory, wchar_t* app) {
  uint8_t* text = ReadFileContentsIn(tempDirectory, L"InstalledApp.txt");
  if (text == nullptr) return false;
  const wchar_t* named = reinterpret_cast<const wchar_t*>(text);
  // A path that does not fit the buffer is passed over like any other that
  // names no file.
  bool found = lstrlenW(named) < MAX_PATH && Exists(named);
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

bool FromFixedFolder(wchar_t* app) {
  return FromFolder(app, kFixedInstallFolder);
}

// A program held from before the question until it has been started:
// readable, with neither writes nor deletion shared, opened as itself. Its
// path is where it lies, links followed, unless that differs only in letter
// case or cannot be read.
struct HeldProgram {
  HANDLE handle;
  wchar_t path[MAX_PATH];
};

void Hold(HeldProgram* program, const wchar_t* path, ACCESS_MASK extra) {
  CopyText(program->path, MAX_PATH, path);
  program->handle = CreateFileW(path, GENERIC_READ | READ_CONTROL | extra,
                                FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
  if (program->handle != INVALID_HANDLE_VALUE) {
    ResolvePath(program->handle, program->path, MAX_PATH);
  }
}

void Release(HeldProgram* program) {
  if (program->handle != INVALID_HANDLE_VALUE) CloseHandle(program->handle);
  program->handle = INVALID_HANDLE_VALUE;
}

bool Held(const HeldProgram& program) {
  return program.handle != INVALID_HANDLE_VALUE;
}

// Whether what is started may run elevated: only administrators can change
// the application's folder and every entry in it, the launcher and the
// application among them (its DLL search starts there). C:\Talvorn is
// judged with what this run did to it.
bool MayStartElevated(const HeldProgram& app, const wchar_t* originalApp,
                      const wchar_t* folderPath) {
  if (!Held(app) || LeadsElsewhere(app.handle, originalApp)) return false;
  wchar_t folderName[MAX_PATH];
  CopyText(folderName, MAX_PATH, app.path);
  CutLastComponent(folderName);
  if (CompareStringOrdinal(folderPath, -1, kFixedInstallFolder, -1, TRUE) ==
      CSTR_EQUAL) {
    return InstallFolderTrusted();
  }
  HeldFolder folder;
  bool only = HoldExistingFolder(nullptr, folderName,
                                 READ_CONTROL | FILE_LIST_DIRECTORY, kShareAll,
                                 &folder) == 0 &&
              OnlyAdministratorsCanChangeEntry(folder.handle) &&
              EveryEntryOnlyAdministrators(folder, nullptr);
  ReleaseHeldFolder(&folder);
  return only;
}

// Starts what the launch runs, elevated or as the signed-in user, and logs
// why it is not elevated when it is not (a start that fails is logged as
// such).
void Start(const HeldProgram& app, const HeldProgram& launcher, bool elevated,
           const wchar_t* folder) {
  wchar_t parameters[MAX_PATH];
  // Parameters that would be cut would hand the launcher a wrong path: the
  // application is then started directly.
  bool throughLauncher =
      Held(launcher) && FormatText(parameters, MAX_PATH, L"\"%s\"", app.path);
  const wchar_t* started = throughLauncher ? launcher.path : app.path;
  const wchar_t kAsUser[] = L"others can change it or what lies beside it";
  HANDLE parent = nullptr;
  if (!elevated) {
    const wchar_t* why = nullptr;
    parent = SignedInUserProcess(&why);
    if (parent == nullptr) {
      LogFormat(L"Not started \"%s\": %s, and %s", started, kAsUser, why);
      return;
    }
  }
  DWORD error = 0;
  StartProgram(started, throughLauncher ? parameters : nullptr, folder, parent,
               &error);
  if (parent != nullptr) CloseHandle(parent);
  if (error == 0 && !elevated) {
    LogFormat(L"Started \"%s\" as the signed-in user: %s", started, kAsUser);
  }
}

}  // namespace

int CompleteInstall(const HeldFolder& tempDirectory) {
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
  wchar_t launcherPath[MAX_PATH];
  JoinPath(launcherPath, MAX_PATH, appFolder, kLauncherName);
  // "C:" alone would name the drive's current directory, not its root.
  if (lstrlenW(appFolder) == 2) AppendBackslash(appFolder, MAX_PATH);
  wchar_t folderWithBackslash[MAX_PATH];
  CopyText(folderWithBackslash, MAX_PATH, appFolder);
  AppendBackslash(folderWithBackslash, MAX_PATH);

  HeldProgram held = {INVALID_HANDLE_VALUE, {}};
  HeldProgram launcher = {INVALID_HANDLE_VALUE, {}};
  // The copy this run made is held already, readable only.
  Hold(&held, app, 0);
  Hold(&launcher, launcherPath, DELETE | FILE_WRITE_ATTRIBUTES);
  int answer = seams::messageBoxA(
      nullptr, "Do you wish to launch the application now?", "Complete",
      MB_OKCANCEL | MB_ICONQUESTION);
  if (answer == IDOK) {
    // Started in its own folder: it must not find its current directory, or
    // libraries by that, in the extractor's download folder.
    bool elevated = !RunIsElevated() ||
                    MayStartElevated(held, app, folderWithBackslash);
    Start(held, launcher, elevated, appFolder);
  }
  // Started: the application can be let go of, and the launcher deleted,
  // through the handle it was judged by: whatever its name leads to by now
  // is left alone.
  Release(&held);
  if (Held(launcher)) {
    seams::sleep(kLauncherDeleteDelayMs);
    DeleteThroughHandle(launcher.handle);
    Release(&launcher);
  }
  return 1;
}
