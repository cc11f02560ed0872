#include "completion/install_folder.h"

#include <aclapi.h>

#include "security/admin_control.h"
#include "security/elevation.h"
#include "security/folder_security.h"
#include "support/file_entry.h"
#include "support/file_util.h"
#include "support/log.h"
#include "support/seams.h"
#include "support/text.h"

namespace {

// What this run did to the folder.
enum class Folder {
  kUntouched,   // no basic install: judged as it stands
  kProtected,   // made, or found closed to others, and protected by this run
  kDistrusted,  // found open to others (they may still hold a way in), or
                // left unprotected: nothing in it starts elevated this run
};

Folder folderState = Folder::kUntouched;
HeldFolder folder;
HANDLE copy = INVALID_HANDLE_VALUE;
BY_HANDLE_FILE_INFORMATION copyIdentity;
wchar_t copyPath[MAX_PATH];

const wchar_t kFolderName[] = L"C:\\Talvorn";
const ACCESS_MASK kFolderAccess =
    READ_CONTROL | FILE_LIST_DIRECTORY | FILE_TRAVERSE | FILE_READ_ATTRIBUTES;
const ACCESS_MASK kProtectAccess = WRITE_DAC | WRITE_OWNER;
// Without delete sharing: nobody can rename it or put a link in its place.
const ULONG kFolderSharing = FILE_SHARE_READ | FILE_SHARE_WRITE;
const DWORD kChunk = 65536;

void ReleaseCopy() {
  if (copy != INVALID_HANDLE_VALUE) CloseHandle(copy);
  copy = INVALID_HANDLE_VALUE;
  copyPath[0] = 0;
}

// Brings the existing folder under the descriptor: DACL, protection and
// owner, passed on to what inside inherits. False when that fails, which
// is logged.
bool Protect(FolderSecurity* security) {
  DWORD error = SetSecurityInfo(
      folder.handle, SE_FILE_OBJECT,
      OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION |
          PROTECTED_DACL_SECURITY_INFORMATION,
      security->owner, nullptr, reinterpret_cast<ACL*>(security->acl), nullptr);
  if (error == 0) return true;
  LogFormat(L"%s\\ could not be protected: error %d", kFolderName,
            static_cast<int>(error));
  return false;
}


DWORD CopyBytes(HANDLE from, HANDLE to) {
  auto* buffer = static_cast<BYTE*>(HeapAlloc(GetProcessHeap(), 0, kChunk));
  if (buffer == nullptr) return ERROR_NOT_ENOUGH_MEMORY;
  DWORD error = 0;
  for (;;) {
    DWORD read = 0;
    if (!ReadFile(from, buffer, kChunk, &read, nullptr)) {
      error = GetLastError();
      break;
    }
    if (read == 0) break;
    // A full disk can take fewer bytes than asked and call it success.
    SetLastError(ERROR_DISK_FULL);
    if (!WriteAll(to, buffer, read)) {
      error = GetLastError() != 0 ? GetLastError() : ERROR_DISK_FULL;
      break;
    }
  }
  HeapFree(GetProcessHeap(), 0, buffer);
  FILETIME created, accessed, modified;
  if (error == 0 && GetFileTime(from, &created, &accessed, &modified)) {
    SetFileTime(to, nullptr, nullptr, &modified);  // as a copy keeps it
  }
  return error;
}

}  // namespace

DWORD PrepareInstallFolder() {
  ReleaseInstallFolder();
  bool elevated = RunIsElevated();
  FolderSecurity security;
  bool built = elevated && BuildInstallFolderSecurity(&security);
  ACCESS_MASK access = kFolderAccess | (elevated ? kProtectAccess : 0);
  DWORD error = 0;
  FolderMade made = MakeHeldFolder(nullptr, kFolderName,
                                   built ? &security.descriptor : nullptr,
                                   access, kFolderSharing, &folder, &error);
  if (made == FolderMade::kFailed) return error;
  bool closedBefore = made == FolderMade::kMade && built;
  if (made == FolderMade::kExists) {
    error = HoldExistingFolder(nullptr, kFolderName, access, kFolderSharing,
                               &folder);
    if (error != 0) return error;
    // As it was before this run touched it: open to others then, they may
    // have planted something, or kept a handle that outlives the new DACL.
    bool wasClosed = built && OnlyAdministratorsCanChangeEntry(folder.handle);
    closedBefore = built && Protect(&security) && wasClosed;
  }
  if (elevated && !built) {
    LogFormat(L"%s\\ could not be protected: no security descriptor could be "
              L"built", kFolderName);
  }
  bool protectedNow = closedBefore && seams::volumeProtects(folder.handle);
  folderState = protectedNow ? Folder::kProtected : Folder::kDistrusted;
  return 0;
}

DWORD CopyIntoInstallFolder(const HeldFolder& source, const wchar_t* name) {
  ReleaseCopy();
  HANDLE from = INVALID_HANDLE_VALUE;
  DWORD error = OpenInFolder(&source, name, GENERIC_READ, FILE_SHARE_READ,
                             FILE_OPEN, FILE_NON_DIRECTORY_FILE, nullptr, &from);
  if (error != 0) return error;
  FolderSecurity owner;
  HANDLE to = INVALID_HANDLE_VALUE;
  // The old entry's name goes through a handle on the entry itself.
  error = DeleteInFolder(folder, name, nullptr);
  if (error == ERROR_FILE_NOT_FOUND) error = 0;
  if (error == 0) {
    error = OpenInFolder(&folder, name, GENERIC_READ | GENERIC_WRITE, 0,
                         FILE_CREATE, FILE_NON_DIRECTORY_FILE,
                         RunOwnerSecurity(&owner), &to);
  }
  if (error == 0) {
    error = CopyBytes(from, to);
    if (!GetFileInformationByHandle(to, &copyIdentity) && error == 0) {
      error = GetLastError();
    }
    CloseHandle(to);
  }
  CloseHandle(from);
  // Made through the held folder: it must still be that folder, no link.
  if (error == 0 && HandleIsLink(folder.handle)) error = kReparsePointEncountered;
  if (error != 0) return error;
  // Held until it has been started: readable, neither writes nor deletion
  // shared, and the very file written. A scanner that looks at the new file
  // for a moment is waited for.
  error = OpenInFolderRetrying(&folder, name, GENERIC_READ, FILE_SHARE_READ,
                               FILE_OPEN, FILE_NON_DIRECTORY_FILE, &copy);
  BY_HANDLE_FILE_INFORMATION held;
  if (error == 0 && (!GetFileInformationByHandle(copy, &held) ||
                     !SameEntry(held, copyIdentity))) {
    error = ERROR_FILE_INVALID;
  }
  if (error == 0 && !JoinPath(copyPath, MAX_PATH, kFolderName, name)) {
    error = ERROR_FILENAME_EXCED_RANGE;  // held, but not to be named: not held
  }
  if (error != 0) ReleaseCopy();
  return error;
}

bool InstallFolderTrusted() {
  if (folderState == Folder::kDistrusted) return false;
  if (folderState == Folder::kUntouched) {
    if (!IsHeld(folder) &&
        HoldExistingFolder(nullptr, kFolderName, kFolderAccess, kFolderSharing,
                           &folder) != 0) {
      return false;
    }
    if (!OnlyAdministratorsCanChangeEntry(folder.handle)) return false;
  }
  return !HandleIsLink(folder.handle) &&
         EveryEntryOnlyAdministrators(
             folder, copy != INVALID_HANDLE_VALUE ? &copyIdentity : nullptr);
}

bool InstallFolderHolds(const wchar_t* path) {
  return copy != INVALID_HANDLE_VALUE &&
         CompareStringOrdinal(copyPath, -1, path, -1, TRUE) == CSTR_EQUAL;
}

void ReleaseInstallFolder() {
  ReleaseCopy();
  ReleaseHeldFolder(&folder);
  folderState = Folder::kUntouched;
}
