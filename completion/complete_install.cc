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

// A program held from before the question until it has been started:
// readable, with neither writes nor deletion shared, opened as itself
// relative to the folder the search holds. Its path, which starts it, is
// the name the loader is given for that handle (NameForLoader).
struct HeldProgram {
  HANDLE handle;
  wchar_t path[MAX_PATH];
};

// What the search found: the application's folder, held, and the
// application and its launcher opened in it. The folder's path is where its
// handle lies, and the application's working folder.
struct Found {
  const HeldFolder* folder;  // named, or the install folder's own hold
  HeldFolder named;          // any other place's folder, links followed
  HeldProgram app, launcher;
  bool elsewhere;  // the application's name leads out of the folder
};

bool Held(const HeldProgram& program) {
  return program.handle != INVALID_HANDLE_VALUE;
}

void Release(HeldProgram* program) {
  if (Held(*program)) CloseHandle(program->handle);
  program->handle = INVALID_HANDLE_VALUE;
}

// A program whose place cannot be read from its handle (the name the loader
// and CreateProcessW are given) is not held: no other name may start it.
void Hold(const HeldFolder& folder, HeldProgram* program, const wchar_t* name,
          ACCESS_MASK extra) {
  if (OpenInFolder(&folder, name, GENERIC_READ | READ_CONTROL | extra,
                   FILE_SHARE_READ, FILE_OPEN, FILE_NON_DIRECTORY_FILE,
                   nullptr, &program->handle) != 0 ||
      !NameForLoader(program->handle, program->path, MAX_PATH)) {
    Release(program);
  }
}

// Whether the held program is not the entry of that name in the folder: a
// link, or (Wine opens a link to a file as its target) named elsewhere.
bool LeadsOut(const HeldFolder& folder, const wchar_t* name, const HeldProgram& program) {
  return HandleIsLink(program.handle) || !IsNamedIn(folder.handle, name, program.handle);
}

// Holds the application name in the held folder, and its launcher beside
// it; false when the application is not there. A launcher that leads
// elsewhere is let go: started, it would be what it leads to, and its
// deletion would reach that too. The application is then started directly.
bool FindIn(Found* found, const HeldFolder* folder, const wchar_t* name) {
  found->folder = folder;
  Hold(*folder, &found->app, name, 0);
  if (!Held(found->app)) return false;
  found->elsewhere = LeadsOut(*folder, name, found->app);
  Hold(*folder, &found->launcher, kLauncherName, DELETE | FILE_WRITE_ATTRIBUTES);
  if (Held(found->launcher) && LeadsOut(*folder, kLauncherName, found->launcher)) {
    LogFormat(L"%s\\%s is not used: it leads elsewhere", folder->path, kLauncherName);
    Release(&found->launcher);
  }
  return true;
}

// The same in the folder at path, held as the name leads there now (the
// setup program, the registry or the system chose it), readable for the
// judge.
bool FindInNamed(Found* found, const wchar_t* path, const wchar_t* name) {
  HeldFolder* folder = &found->named;
  folder->handle = CreateFileW(
      path, READ_CONTROL | FILE_LIST_DIRECTORY | FILE_TRAVERSE | FILE_READ_ATTRIBUTES,
      kShareAll, nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (IsHeld(*folder) && CopyText(folder->path, kHeldPathSize, path) &&
      ResolvePath(folder->handle, folder->path, kHeldPathSize) == 0 &&
      FindIn(found, folder, name)) {
    return true;
  }
  ReleaseHeldFolder(folder);
  return false;
}

// The search's four places, in order; each says whether the search stops
// there, with what it found held in found.

// The hand-off file names the executable itself, in UTF-16LE without a BOM.
bool FromHandOffFile(const HeldFolder& tempDirectory, Found* found) {
  uint8_t* text = ReadFileContentsIn(tempDirectory, L"InstalledApp.txt");
  if (text == nullptr) return false;
  const wchar_t* named = reinterpret_cast<const wchar_t*>(text);
  wchar_t folder[MAX_PATH];
  // A path that does not fit the buffer is passed over like any other that
  // names no file.
  bool fits = CopyText(folder, MAX_PATH, named);
  CutToFolder(folder, MAX_PATH, false);
  // Where the name begins: after the folder's final backslash, which a root
  // keeps.
  int cut = lstrlenW(folder);
  if (cut > 0 && folder[cut - 1] == L'\\') --cut;
  bool stops = fits && named[cut] == L'\\' &&
               FindInNamed(found, folder, named + cut + 1);
  std::free(text);
  return stops;
}

// InstPath names the install folder. It is read with room for 260 bytes, so
// a value of 130 characters or more does not fit and counts as absent.
bool FromRegistry(Found* found) {
  HKEY key;
  if (RegOpenKeyW(HKEY_LOCAL_MACHINE, L"Software\\Talvorn", &key) !=
      ERROR_SUCCESS) {
    return false;
  }
  wchar_t folder[MAX_PATH] = {};
  DWORD type = REG_SZ;
  DWORD size = 260;
  if (RegQueryValueExW(key, L"InstPath", nullptr, &type,
                       reinterpret_cast<BYTE*>(folder), &size) != ERROR_SUCCESS) {
    folder[0] = 0;
  }
  RegCloseKey(key);
  if (folder[0] == 0 || !(FolderExists(folder) || FileExists(folder))) return false;
  FindInNamed(found, folder, kApplicationName);
  return true;
}

bool FromProgramFiles(Found* found) {
  wchar_t programFiles[MAX_PATH];
  return GetProgramFilesFolder(programFiles) &&
         AppendText(programFiles, MAX_PATH, L"Talvorn") &&
         FindInNamed(found, programFiles, kApplicationName);
}

// C:\Talvorn as itself, never through a link.
void FromFixedFolder(Found* found) {
  const HeldFolder* fixed = InstallFolderForSearch();
  if (fixed != nullptr) FindIn(found, fixed, kApplicationName);
}

// Whether what is started may run elevated: only administrators can change
// the application's folder and every entry in it, the launcher and the
// application among them (its DLL search starts there). C:\Talvorn, however
// it was reached, is judged with what this run did to it.
bool MayStartElevated(const Found& found) {
  const HeldFolder& folder = *found.folder;
  if (found.elsewhere) return false;
  if (IsInstallFolder(folder.handle)) return InstallFolderTrusted();
  return OnlyAdministratorsCanChangeEntry(folder.handle) &&
         EveryEntryOnlyAdministrators(folder, nullptr);
}

// Starts what the launch runs, elevated or as the signed-in user, and logs
// why it is not elevated when it is not (a start that fails is logged as
// such). Started in its own folder: it must not find its current directory,
// or libraries by that, in the extractor's download folder.
void Start(const Found& found, bool elevated) {
  const HeldProgram& app = found.app;
  wchar_t parameters[MAX_PATH];
  // Parameters that would be cut would hand the launcher a wrong path: the
  // application is then started directly.
  bool throughLauncher = Held(found.launcher) &&
                         FormatText(parameters, MAX_PATH, L"\"%s\"", app.path);
  const wchar_t* started = throughLauncher ? found.launcher.path : app.path;
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
  StartProgram(started, throughLauncher ? parameters : nullptr,
               found.folder->path, parent, &error);
  if (parent != nullptr) CloseHandle(parent);
  if (error == 0 && !elevated) {
    LogFormat(L"Started \"%s\" as the signed-in user: %s", started, kAsUser);
  }
}

}  // namespace

int CompleteInstall(const HeldFolder& tempDirectory) {
  Found found = {};
  found.app.handle = found.launcher.handle = INVALID_HANDLE_VALUE;
  // A registry value that names a folder ends the search there, found or not.
  if (!FromHandOffFile(tempDirectory, &found) && !FromRegistry(&found) &&
      !FromProgramFiles(&found)) {
    FromFixedFolder(&found);
  }
  if (!Held(found.app)) return 0;

  int answer = seams::messageBoxA(
      nullptr, "Do you wish to launch the application now?", "Complete",
      MB_OKCANCEL | MB_ICONQUESTION);
  if (answer == IDOK) {
    Start(found, !RunIsElevated() || MayStartElevated(found));
  }
  // Started: the application can be let go of, and the launcher deleted,
  // through the handle it was judged by: whatever its name leads to by now
  // is left alone.
  Release(&found.app);
  if (Held(found.launcher)) {
    seams::sleep(kLauncherDeleteDelayMs);
    DeleteThroughHandle(found.launcher.handle);
    Release(&found.launcher);
  }
  ReleaseHeldFolder(&found.named);
  return 1;
}
