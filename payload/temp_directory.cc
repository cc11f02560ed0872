#include "payload/temp_directory.h"

#include "security/elevation.h"
#include "security/folder_security.h"
#include "security/protected_place.h"
#include "support/errors.h"
#include "support/log.h"
#include "support/seams.h"
#include "support/text.h"

namespace {

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
  bool built = BuildTempSecurity(token, security);
  CloseHandle(token);
  return built ? &security->descriptor : nullptr;
}

}  // namespace

DWORD CreateTempDirectory(const HeldFolder& base, const wchar_t* stem,
                          HeldFolder* made) {
  weakness = nullptr;
  FolderSecurity security;
  SECURITY_DESCRIPTOR* descriptor = DescriptorForThisProcess(&security);
  wchar_t name[kHeldPathSize];
  DWORD error = 0;
  for (int n = 1;; ++n) {
    if (n > kMaxTempDirectoryNumber) FailA("Can't create tmp directory");
    FormatText(name, kHeldPathSize, L"%s-%d", stem, n);
    FolderMade result = MakeHeldFolder(&base, name, descriptor, kHeldAccess,
                                       kHeldSharing, made, &error);
    // A cut path would name some other folder: it cannot be made, like 49
    // taken names.
    if (made->path[0] == 0) FailA("Can't create tmp directory");
    if (result != FolderMade::kExists) break;
  }
  if (IsHeld(*made) && descriptor == nullptr) {
    weakness = L"no security descriptor could be built";
  }
  return error;
}

const HeldFolder& ChooseTempBase(const HeldFolder& extractorFolder,
                                 HeldFolder* protectedPlace) {
  InitHeldFolder(protectedPlace);
  if (!RunIsElevated() || seams::volumeProtects(extractorFolder.handle)) {
    return extractorFolder;
  }
  const wchar_t* refusal = nullptr;
  if (!HoldProtectedPlace(protectedPlace, &refusal)) {
    LogFormat(L"Protected folder %s is not used: %s", protectedPlace->path,
              refusal);
    FailA("Can't create tmp directory");
  }
  LogFormat(L"Temporary directory goes to %s: the extractor's folder %s lies "
            L"on a volume that is remote or keeps no permissions",
            protectedPlace->path, extractorFolder.path);
  return *protectedPlace;
}

const wchar_t* TempDirectoryWeakness() { return weakness; }
