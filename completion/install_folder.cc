#include "completion/install_folder.h"

#include "completion/delete_tree.h"
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

const wchar_t kFolderName[] = L"C:\\Talvorn";
const ACCESS_MASK kFolderAccess =
    READ_CONTROL | FILE_LIST_DIRECTORY | FILE_TRAVERSE | FILE_READ_ATTRIBUTES;
const ACCESS_MASK kProtectAccess = WRITE_DAC | WRITE_OWNER;
// Without delete sharing: nobody can rename it or put a link in its place.
const ULONG kFolderSharing = FILE_SHARE_READ | FILE_SHARE_WRITE;
const DWORD kChunk = 65536;

// "<folder>\<name> could not be <what>: error N", one line of the log.
void LogCouldNot(const wchar_t* folderPath, const wchar_t* name,
                 const wchar_t* what, DWORD error) {
  LogFormat(L"%s\\%s could not be %s: error %d", folderPath, name, what,
            static_cast<int>(error));
}

void ReleaseCopy() {
  if (copy != INVALID_HANDLE_VALUE) CloseHandle(copy);
  copy = INVALID_HANDLE_VALUE;
}

// Brings the existing folder itself under the descriptor (owner, and the DACL
// the descriptor marks protected) through the held handle. Not
// SetSecurityInfo: it walks what lies inside to re-permission what inherits
// (https://learn.microsoft.com/windows/win32/secauthz/automatic-propagation-of-inheritable-aces),
// which would make an entry others could change until now, or still hold,
// read as administrators', and may follow a junction planted there. The
// low-level call sets the one object; "security applied to a directory is not
// inherited by its children" (its by-name form,
// https://learn.microsoft.com/windows/win32/api/securitybaseapi/nf-securitybaseapi-setfilesecurityw).
// False when that fails, which is logged.
bool Protect(FolderSecurity* security) {
  if (SetKernelObjectSecurity(folder.handle,
                              OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION,
                              &security->descriptor)) {
    return true;
  }
  LogCouldNot(kFolderName, L"", L"protected", GetLastError());
  return false;
}

void LogNotRemoved(const wchar_t* folderPath, const wchar_t* name, DWORD error) {
  LogCouldNot(folderPath, name, L"removed", error);
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
    // A listing without sharing, which Users' read access allows, holds it
    // for a moment.
    error = HoldExistingFolderRetrying(nullptr, kFolderName, access,
                                       kFolderSharing, &folder);
    if (error != 0) return error;
    // As it was before this run touched it: open to others then, they may
    // have planted something, or kept a handle that outlives the new DACL.
    bool wasClosed = built && OnlyAdministratorsCanChangeEntry(folder.handle);
    bool brought = built && Protect(&security);
    closedBefore = brought && wasClosed;
    // So what was theirs goes, now that nobody else can add to it; the copy is
    // then made afresh. What cannot go (held by another program) keeps its
    // old DACL, which keeps the folder from being trusted in later runs too.
    // It holds no more than a copy of the application, which this run writes.
    if (brought && !wasClosed) EmptyHeldFolder(folder, LogNotRemoved);
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
  if (error != 0) ReleaseCopy();
  return error;
}

const HeldFolder* InstallFolderForSearch() {
  if (!IsHeld(folder)) {
    DWORD error = HoldExistingFolderRetrying(nullptr, kFolderName, kFolderAccess,
                                             kFolderSharing, &folder);
    if (error == kReparsePointEncountered) {
      LogFormat(L"%s\\ is not used: it is a link", kFolderName);
    }
    if (error != 0) return nullptr;
  }
  return &folder;
}

// "The identifier ... and the volume serial number uniquely identify a file on
// a single computer" (https://learn.microsoft.com/windows/win32/api/fileapi/ns-fileapi-by_handle_file_information).
bool IsInstallFolder(HANDLE entry) {
  return IsHeld(folder) && SameOpenEntry(folder.handle, entry);
}

bool InstallFolderTrusted() {
  if (folderState == Folder::kDistrusted || InstallFolderForSearch() == nullptr ||
      (folderState == Folder::kUntouched &&
       !OnlyAdministratorsCanChangeEntry(folder.handle))) {
    return false;
  }
  return !HandleIsLink(folder.handle) &&
         EveryEntryOnlyAdministrators(
             folder, copy != INVALID_HANDLE_VALUE ? &copyIdentity : nullptr);
}

void ReleaseInstallFolder() {
  ReleaseCopy();
  ReleaseHeldFolder(&folder);
  folderState = Folder::kUntouched;
}
