#include "payload/temp_directory.h"

#include "payload/extract.h"  // kPathSize
#include "support/errors.h"
#include "support/file_entry.h"
#include "support/folder_security.h"
#include "support/held_folder.h"
#include "support/text.h"

namespace {

HANDLE heldDirectory = INVALID_HANDLE_VALUE;
const wchar_t* weakness = nullptr;

// Only data access takes part in sharing checks: listing the folder makes
// the missing delete sharing hold against everyone else. Delete access is
// not taken: a rename into the folder opens it sharing only reading and
// writing, and so does making it a current directory, which the setup
// program and what it starts may do.
const ACCESS_MASK kHeldAccess =
    FILE_LIST_DIRECTORY | FILE_TRAVERSE | FILE_READ_ATTRIBUTES;
const ULONG kHeldSharing = FILE_SHARE_READ | FILE_SHARE_WRITE;

// The descriptor for this process's token; none when the token cannot be
// read, and tmp-n then gets the default one.
SECURITY_DESCRIPTOR* DescriptorForThisProcess(FolderSecurity* security) {
  HANDLE token;
  if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token)) {
    return nullptr;
  }
  bool built = BuildFolderSecurity(token, security);
  CloseHandle(token);
  return built ? &security->descriptor : nullptr;
}

// From here on the run goes by the path the system resolved the held folder
// to: a link above the extractor, re-pointed during the run, then redirects
// nothing. Where nothing was resolved differently the path stays as the
// user knows it. A resolved path that cannot be read or does not fit ends
// the run, which must not go on by a name that can be re-pointed.
void UseResolvedPath(wchar_t* path) {
  wchar_t resolved[kPathSize];
  if (!FinalPath(heldDirectory, resolved, kPathSize)) {
    FailA("Can't create tmp directory");
  }
  if (CompareStringOrdinal(resolved, -1, path, -1, TRUE) != CSTR_EQUAL) {
    CopyText(path, kPathSize, resolved);
  }
}

}  // namespace

void CreateTempDirectory(wchar_t* path, const wchar_t* stem) {
  ReleaseTempDirectory();
  weakness = nullptr;
  FolderSecurity security;
  SECURITY_DESCRIPTOR* descriptor = DescriptorForThisProcess(&security);
  wchar_t candidate[kPathSize];
  for (int n = 1;; ++n) {
    if (n > kMaxTempDirectoryNumber) FailA("Can't create tmp directory");
    // A cut name would be some other folder; it cannot be made, like 49
    // taken names.
    if (!FormatText(candidate, kPathSize, L"%s\\%s-%d", path, stem, n)) {
      FailA("Can't create tmp directory");
    }
    DWORD error = 0;
    if (MakeHeldFolder(candidate, descriptor, kHeldAccess, kHeldSharing,
                       &heldDirectory, &error) != FolderMade::kExists) {
      break;
    }
  }
  CopyText(path, kPathSize, candidate);
  if (heldDirectory == INVALID_HANDLE_VALUE) return;
  if (descriptor == nullptr) {
    weakness = L"no security descriptor could be built";
  } else if (!VolumeKeepsAcls(heldDirectory)) {
    weakness = L"its volume keeps no permissions";
  }
  UseResolvedPath(path);
}

const wchar_t* TempDirectoryWeakness() { return weakness; }

HANDLE TakeTempDirectory() {
  HANDLE held = heldDirectory;
  heldDirectory = INVALID_HANDLE_VALUE;
  return held;
}

void ReleaseTempDirectory() {
  if (heldDirectory == INVALID_HANDLE_VALUE) return;
  CloseHandle(heldDirectory);
  heldDirectory = INVALID_HANDLE_VALUE;
}

bool TempDirectoryHeld() { return heldDirectory != INVALID_HANDLE_VALUE; }
