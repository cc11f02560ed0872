#include "security/protected_place.h"

#include <shlobj.h>

#include "security/admin_control.h"
#include "security/folder_security.h"
#include "support/file_entry.h"
#include "support/file_util.h"
#include "support/text.h"

namespace {

const wchar_t kSystemTemp[] = L"SystemTemp";
const wchar_t kOwnFolder[] = L"Talvorn Extractor";
const ACCESS_MASK kAccess =
    READ_CONTROL | FILE_LIST_DIRECTORY | FILE_TRAVERSE | FILE_READ_ATTRIBUTES;
// The place itself is held without delete sharing, as tmp-n is; the folders
// above only while the next one is opened, sharing everything.
const ULONG kSharing = FILE_SHARE_READ | FILE_SHARE_WRITE;

const wchar_t kOpenToOthers[] = L"others can change it";
const wchar_t kAboveOpenToOthers[] =
    L"others can move or re-permission what is in a folder above it";
const wchar_t kNotOpened[] = L"it or a folder above it cannot be opened as itself";

// Holds each folder of path from its drive's root down, each relative to the
// one above, and judges each as a folder above what the run uses. False,
// with the reason, when one cannot be held or others can move within it.
bool HoldPath(const wchar_t* path, HeldFolder* held, const wchar_t** refusal) {
  *refusal = kNotOpened;
  wchar_t root[4];
  if (lstrlenW(path) < 3 || path[1] != L':' || path[2] != L'\\') return false;
  CopyText(root, 4, path);
  if (HoldExistingFolder(nullptr, root, kAccess, kShareAll, held) != 0) {
    return false;
  }
  // The root's path without its backslash, so that each name is added after
  // exactly one.
  held->path[2] = 0;
  for (const wchar_t* rest = path + 3;;) {
    if (!OnlyAdministratorsCanMoveWithinEntry(held->handle)) {
      *refusal = kAboveOpenToOthers;
      return false;
    }
    if (*rest == 0) return true;
    const wchar_t* end = rest;
    while (*end != 0 && *end != L'\\') ++end;
    wchar_t name[kHeldPathSize];
    size_t length = static_cast<size_t>(end - rest);
    if (length == 0 || length >= kHeldPathSize) return false;
    CopyText(name, length + 1, rest);
    HeldFolder next;
    DWORD error = HoldExistingFolder(held, name, kAccess, kShareAll, &next);
    ReleaseHeldFolder(held);
    *held = next;
    if (error != 0) return false;
    rest = *end == 0 ? end : end + 1;
  }
}

// Used only as Windows made it: nothing here is made or refused.
bool UseSystemTemp(HeldFolder* place) {
  wchar_t path[MAX_PATH];
  UINT n = GetSystemWindowsDirectoryW(path, MAX_PATH);
  const wchar_t* refusal = nullptr;
  HeldFolder parent;
  InitHeldFolder(&parent);
  bool used = n > 0 && n < MAX_PATH && HoldPath(path, &parent, &refusal) &&
              HoldExistingFolder(&parent, kSystemTemp, kAccess, kSharing, place) == 0 &&
              OnlyAdministratorsCanChangeEntry(place->handle);
  ReleaseHeldFolder(&parent);
  if (!used) ReleaseHeldFolder(place);
  return used;
}

bool UseOwnFolder(HeldFolder* place, const wchar_t** refusal) {
  wchar_t data[MAX_PATH];
  HeldFolder parent;
  InitHeldFolder(&parent);
  if (!GetSpecialFolder(data, CSIDL_COMMON_APPDATA) ||
      !JoinPath(place->path, kHeldPathSize, data, kOwnFolder)) {
    *refusal = L"the machine's application data folder cannot be had";
    return false;
  }
  data[lstrlenW(data) - 1] = 0;  // the backslash the shell's folder ends in
  if (!HoldPath(data, &parent, refusal)) {
    ReleaseHeldFolder(&parent);
    return false;
  }
  FolderSecurity security;
  DWORD error = ERROR_INVALID_FUNCTION;
  FolderMade made = FolderMade::kFailed;
  if (BuildAdministratorsSecurity(&security)) {
    made = MakeHeldFolder(&parent, kOwnFolder, &security.descriptor, kAccess,
                          kSharing, place, &error);
  }
  if (made == FolderMade::kExists) {
    error = HoldExistingFolder(&parent, kOwnFolder, kAccess, kSharing, place);
  }
  ReleaseHeldFolder(&parent);
  // Made now with its descriptor, or found and controlled by administrators
  // alone: a standard user may have made the name first.
  *refusal = kNotOpened;
  if (made == FolderMade::kMade) return true;
  if (made == FolderMade::kExists && error == 0) {
    if (OnlyAdministratorsCanChangeEntry(place->handle)) return true;
    *refusal = kOpenToOthers;
  }
  ReleaseHeldFolder(place);
  return false;
}

}  // namespace

bool HoldProtectedPlace(HeldFolder* place, const wchar_t** refusal) {
  InitHeldFolder(place);
  *refusal = nullptr;
  if (UseSystemTemp(place)) return true;
  return UseOwnFolder(place, refusal);
}
