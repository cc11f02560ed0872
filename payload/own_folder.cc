#include "payload/own_folder.h"

#include <psapi.h>

#include "payload/extract.h"
#include "support/file_entry.h"
#include "support/file_util.h"
#include "support/text.h"

namespace {

HeldFolder ownFolder;
DWORD ownError = 0;
bool held = false;

// The held folder named as path, or where it really lies; a drive's root
// without its backslash, as every other folder is named.
DWORD Resolve(HeldFolder* folder, const wchar_t* path) {
  CopyText(folder->path, kHeldPathSize, path);
  DWORD error = ResolvePath(folder->handle, folder->path, kHeldPathSize);
  int n = lstrlenW(folder->path);
  if (n > 0 && folder->path[n - 1] == L'\\') folder->path[n - 1] = 0;
  return error;
}

// The folder of the mapped image by the system's own name for it, which on
// Windows is the file's real place ("\Device\HarddiskVolume3\...").
bool HoldImageFolder(HeldFolder* folder) {
  wchar_t name[kPathSize * 2];
  DWORD n = K32GetMappedFileNameW(GetCurrentProcess(), GetModuleHandleW(nullptr),
                                  name, kPathSize * 2);
  if (n == 0 || n >= kPathSize * 2) return false;
  CutToFolder(name, kPathSize * 2, true);
  return HoldFolderByNtName(name, folder) == 0;
}

}  // namespace

void HoldOwnFolder() {
  if (held) return;
  held = true;
  wchar_t path[kPathSize];
  GetModulePath(path);
  InitHeldFolder(&ownFolder);
  ownError = 0;
  if (path[0] == 0) return;
  CutToFolder(path, kPathSize, false);
  if (HoldImageFolder(&ownFolder)) {
    ownError = Resolve(&ownFolder, path);
  } else {
    ownError = HoldExtractorFolder(path, &ownFolder);
  }
}

const HeldFolder& OwnFolder() { return ownFolder; }

DWORD OwnFolderError() { return ownError; }

void ReleaseOwnFolder() {
  ReleaseHeldFolder(&ownFolder);
  ownFolder.path[0] = 0;
  held = false;
}

DWORD HoldExtractorFolder(const wchar_t* path, HeldFolder* folder) {
  DWORD error = HoldFolderAsNamed(path, folder);
  return error != 0 ? error : Resolve(folder, path);
}
