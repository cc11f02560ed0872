#include "completion/install_folder.h"

#include <initializer_list>

#include "completion/complete_install.h"
#include "support/admin_control.h"
#include "support/file_entry.h"
#include "support/file_util.h"
#include "support/folder_security.h"
#include "support/held_folder.h"
#include "support/text.h"

namespace {

// What this run did to the folder.
enum class Folder {
  kUntouched,   // no basic install: judged as it stands
  kProtected,   // made, or found closed to others, and protected by this run
  kDistrusted,  // found open to others (they may still hold a way in), or
                // left unprotected: nothing in it is started this run
};

Folder folderState = Folder::kUntouched;
HANDLE heldFolder = INVALID_HANDLE_VALUE;

// Zero-filled, so that they take no room in the file: a null handle is none.
struct HeldFile {
  HANDLE handle;
  wchar_t path[MAX_PATH];
};
HeldFile copy;
HeldFile app;
HeldFile launcher;

const wchar_t kFolderName[] = L"C:\\Talvorn";
// Not in this SDK's headers: "The request would have encountered a reparse
// point", what Windows itself answers for a link that is not to be followed.
const DWORD kReparsePointEncountered = 4395;
const ACCESS_MASK kFolderAccess = READ_CONTROL | WRITE_DAC | WRITE_OWNER |
                                  FILE_LIST_DIRECTORY | FILE_READ_ATTRIBUTES;
// Without delete sharing: nobody can rename it or put a link in its place.
const DWORD kFolderSharing = FILE_SHARE_READ | FILE_SHARE_WRITE;

void Release(HeldFile* file) {
  if (file->handle != nullptr) CloseHandle(file->handle);
  file->handle = nullptr;
  file->path[0] = 0;
}

// Opened for reading, neither writes nor deletion shared: that succeeds only
// while nobody else may write it, and then nobody can until it is let go.
bool Hold(HeldFile* file, const wchar_t* path) {
  Release(file);
  HANDLE handle = CreateFileW(path, GENERIC_READ, FILE_SHARE_READ, nullptr,
                              OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT,
                              nullptr);
  BY_HANDLE_FILE_INFORMATION info;
  if (handle == INVALID_HANDLE_VALUE) return false;
  if (LeadsElsewhere(handle, path) || !GetFileInformationByHandle(handle, &info) ||
      info.nNumberOfLinks != 1 || !CopyText(file->path, MAX_PATH, path)) {
    CloseHandle(handle);
    return false;
  }
  file->handle = handle;
  return true;
}

// The entry at path is the copy this run wrote and holds.
bool IsOwnCopy(const wchar_t* path) {
  if (copy.handle == nullptr) return false;
  HANDLE entry = OpenEntry(path, FILE_READ_ATTRIBUTES, kShareAll);
  if (entry == INVALID_HANDLE_VALUE) return false;
  BY_HANDLE_FILE_INFORMATION mine;
  BY_HANDLE_FILE_INFORMATION other;
  bool own = !LeadsElsewhere(entry, path) &&
             GetFileInformationByHandle(copy.handle, &mine) &&
             GetFileInformationByHandle(entry, &other) && SameEntry(mine, other);
  CloseHandle(entry);
  return own;
}

// The folder itself, held for the rest of the run.
bool HoldFolder() {
  if (heldFolder == INVALID_HANDLE_VALUE) {
    heldFolder = OpenEntry(kFolderName, kFolderAccess & ~(WRITE_DAC | WRITE_OWNER),
                           kFolderSharing);
  }
  return heldFolder != INVALID_HANDLE_VALUE &&
         !LeadsElsewhere(heldFolder, kFolderName);
}

// Every entry: this run's copy, or one only administrators can change. The
// application's own folder comes first in its DLL search, so a planted
// library would run elevated as much as a planted launcher.
bool EveryEntryClosedToOthers() {
  WIN32_FIND_DATAW found;
  HANDLE search = FindFirstFileW(L"C:\\Talvorn\\*", &found);
  if (search == INVALID_HANDLE_VALUE) return false;
  bool closed = true;
  do {
    const wchar_t* name = found.cFileName;
    if (lstrcmpW(name, L".") == 0 || lstrcmpW(name, L"..") == 0) continue;
    wchar_t path[MAX_PATH];
    closed = JoinPath(path, MAX_PATH, kFolderName, name) &&
             (IsOwnCopy(path) || OnlyAdministratorsCanChangePath(path));
  } while (closed && FindNextFileW(search, &found));
  FindClose(search);
  return closed;
}

}  // namespace

DWORD PrepareInstallFolder() {
  ReleaseInstallFolder();
  FolderSecurity security;
  HANDLE token;
  bool built = false;
  if (OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token)) {
    built = BuildFolderSecurity(token, &security);
    CloseHandle(token);
  }
  SECURITY_DESCRIPTOR* descriptor = built ? &security.descriptor : nullptr;
  DWORD error = 0;
  FolderMade made = MakeHeldFolder(kFolderName, descriptor, kFolderAccess,
                                   kFolderSharing, &heldFolder, &error);
  if (made == FolderMade::kFailed) return error;
  bool closedBefore = made == FolderMade::kMade;
  if (made == FolderMade::kExists) {
    heldFolder = OpenEntry(kFolderName, kFolderAccess, kFolderSharing);
    if (heldFolder == INVALID_HANDLE_VALUE) return GetLastError();
    if (LeadsElsewhere(heldFolder, kFolderName)) {
      ReleaseInstallFolder();
      return kReparsePointEncountered;
    }
    // As it was before this run touched it: open to others then, they may
    // have planted something, or kept a handle that outlives the new DACL.
    closedBefore = OnlyAdministratorsCanChangeEntry(heldFolder);
    // Only the folder's own descriptor: what is inside keeps its own, so
    // that whatever others put there goes on reading as theirs.
    SECURITY_INFORMATION what = DACL_SECURITY_INFORMATION |
                                PROTECTED_DACL_SECURITY_INFORMATION;
    PSID owner = nullptr;
    BOOL defaulted = FALSE;
    if (built && GetSecurityDescriptorOwner(descriptor, &owner, &defaulted) &&
        owner != nullptr) {
      what |= OWNER_SECURITY_INFORMATION;
    }
    if (!built || !SetKernelObjectSecurity(heldFolder, what, descriptor)) {
      closedBefore = false;
    }
  }
  bool protectedNow = built && VolumeKeepsAcls(heldFolder);
  folderState = closedBefore && protectedNow ? Folder::kProtected
                                             : Folder::kDistrusted;
  return 0;
}

bool ClearCopyTarget(const wchar_t* path, DWORD* error) {
  HANDLE entry = OpenEntry(path, FILE_READ_ATTRIBUTES, kShareAll);
  if (entry == INVALID_HANDLE_VALUE) return true;  // nothing there to follow
  BY_HANDLE_FILE_INFORMATION info;
  bool plain = !LeadsElsewhere(entry, path) &&
               GetFileInformationByHandle(entry, &info) && info.nNumberOfLinks == 1;
  CloseHandle(entry);
  if (plain || DeleteEntryItself(path)) return true;
  *error = kReparsePointEncountered;
  return false;
}

void HoldInstalledCopy(const wchar_t* path) { Hold(&copy, path); }

bool InstallFolderTrusted(const wchar_t* appPath, const wchar_t* launcherPath) {
  if (folderState == Folder::kDistrusted || !HoldFolder()) return false;
  if (folderState == Folder::kUntouched &&
      !OnlyAdministratorsCanChangeEntry(heldFolder)) {
    return false;
  }
  // Held first, so that neither can change after the look at the entries.
  bool held = Hold(&app, appPath) &&
              (GetFileAttributesW(launcherPath) == INVALID_FILE_ATTRIBUTES ||
               Hold(&launcher, launcherPath));
  if (!held || !EveryEntryClosedToOthers()) {
    ReleaseInstalledFiles();
    return false;
  }
  return true;
}

bool InstallFolderHolds(const wchar_t* path) {
  for (const HeldFile* file : {&copy, &app, &launcher}) {
    if (file->handle != nullptr &&
        CompareStringOrdinal(file->path, -1, path, -1, TRUE) == CSTR_EQUAL) {
      return true;
    }
  }
  return false;
}

void ReleaseInstalledFiles() {
  Release(&app);
  Release(&launcher);
}

void ReleaseInstallFolder() {
  ReleaseInstalledFiles();
  Release(&copy);
  if (heldFolder != INVALID_HANDLE_VALUE) CloseHandle(heldFolder);
  heldFolder = INVALID_HANDLE_VALUE;
  folderState = Folder::kUntouched;
}
