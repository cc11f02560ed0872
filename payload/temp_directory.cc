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

// Makes "<base>\<stem>-<n>" for the lowest free n: true when it ended on a
// candidate, made and held, or failed with *error; false when every name is
// taken or would not fit.
bool MakeFirstFree(const HeldFolder& base, const wchar_t* stem,
                   HeldFolder* made, DWORD* error) {
  weakness = nullptr;
  FolderSecurity security;
  SECURITY_DESCRIPTOR* descriptor = DescriptorForThisProcess(&security);
  wchar_t name[kHeldPathSize];
  for (int n = 1; n <= kMaxTempDirectoryNumber; ++n) {
    FormatText(name, kHeldPathSize, L"%s-%d", stem, n);
    FolderMade result = MakeHeldFolder(&base, name, descriptor, kHeldAccess,
                                       kHeldSharing, made, error);
    // A cut path would name some other folder: it cannot be made, like 49
    // taken names.
    if (made->path[0] == 0) return false;
    if (result != FolderMade::kExists) {
      if (IsHeld(*made) && descriptor == nullptr) {
        weakness = L"no security descriptor could be built";
      }
      return true;
    }
  }
  return false;
}

}  // namespace

DWORD CreateTempDirectory(const HeldFolder& base, const wchar_t* stem,
                          HeldFolder* made) {
  DWORD error = 0;
  if (!MakeFirstFree(base, stem, made, &error)) FailA("Can't create tmp directory");
  return error;
}

DWORD MakeTempDirectory(const HeldFolder& extractorFolder, const wchar_t* stem,
                        HeldFolder* place, HeldFolder* made) {
  InitHeldFolder(place);
  bool elevated = RunIsElevated();
  const wchar_t* why = L"lies on a volume that is remote or keeps no permissions";
  if (!elevated || seams::volumeProtects(extractorFolder.handle)) {
    DWORD error = CreateTempDirectory(extractorFolder, stem, made);
    // An elevated run writes nothing by name: where tmp-n cannot be made
    // beside the extractor (a full disk, a quota, no right to add a folder),
    // it goes to the protected folder.
    if (!elevated || error == 0) return error;
    why = L"could not hold it";
  }
  // SystemTemp counts only with tmp-n made in it, as the run keeps it: an
  // administrator's run may be refused there.
  DWORD error = 0;
  bool inSystemTemp = HoldSystemTemp(place);
  if (inSystemTemp && (!MakeFirstFree(*place, stem, made, &error) || error != 0)) {
    LogPlaceRefused(place->path, L"no folder can be made in it");
    ReleaseHeldFolder(place);
    inSystemTemp = false;
  }
  if (!inSystemTemp && !HoldProtectedFolder(place)) FailA("Can't create tmp directory");
  LogFormat(L"Temporary directory goes to %s: the extractor's folder %s %s",
            place->path, extractorFolder.path, why);
  return inSystemTemp ? 0 : CreateTempDirectory(*place, stem, made);
}

const wchar_t* TempDirectoryWeakness() { return weakness; }
