#include "security/protected_place.h"

#include <shlobj.h>

#include "security/admin_control.h"
#include "security/folder_security.h"
#include "support/file_entry.h"
#include "support/file_util.h"
#include "support/log.h"
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
const wchar_t kNotMade[] = L"it cannot be made";

// Names tried after the own folder's, where others took that.
const int kOtherNames = 4;
const size_t kOwnNameSize = 32;  // "Talvorn Extractor-" and 8 hex digits

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

// RtlGenRandom has no import library: advapi32 exports it as
// SystemFunction036, to be looked up at run time
// (https://learn.microsoft.com/windows/win32/api/ntsecapi/nf-ntsecapi-rtlgenrandom).
using GenRandomFn = BOOLEAN(WINAPI*)(PVOID, ULONG);

// Another name for the own folder, one nobody can make beforehand: false when
// no random number can be had.
bool OtherName(wchar_t* name, size_t cap) {
  auto genRandom = reinterpret_cast<GenRandomFn>(reinterpret_cast<void*>(
      GetProcAddress(GetModuleHandleW(L"advapi32.dll"), "SystemFunction036")));
  DWORD number = 0;
  return genRandom != nullptr && genRandom(&number, sizeof number) &&
         FormatText(name, cap, L"%s-%08x", kOwnFolder, static_cast<unsigned>(number));
}

// Made now with its descriptor, or found and controlled by administrators
// alone. Any user may add folders to C:\ProgramData and so take the name
// first: whatever holds it then (a folder, a file, a link) is left alone, and
// a few other names are made instead, each only as a new folder.
bool MakeOwnFolder(const HeldFolder& parent, HeldFolder* place,
                   const wchar_t** refusal) {
  FolderSecurity security;
  if (!BuildAdministratorsSecurity(&security)) return false;
  wchar_t name[kOwnNameSize];
  CopyText(name, kOwnNameSize, kOwnFolder);
  for (int n = 0; n <= kOtherNames; ++n) {
    DWORD error = 0;
    FolderMade made = MakeHeldFolder(&parent, name, &security.descriptor,
                                     kAccess, kSharing, place, &error);
    if (made == FolderMade::kMade) return true;
    if (made == FolderMade::kFailed) return false;
    if (n == 0) {
      error = HoldExistingFolder(&parent, name, kAccess, kSharing, place);
      if (error == 0 && OnlyAdministratorsCanChangeEntry(place->handle)) {
        return true;
      }
      ReleaseHeldFolder(place);
      LogPlaceRefused(place->path, error == 0 ? kOpenToOthers : kNotOpened);
      *refusal = kNotMade;
    }
    if (!OtherName(name, kOwnNameSize)) return false;
  }
  return false;
}

}  // namespace

bool HoldSystemTemp(HeldFolder* place) {
  InitHeldFolder(place);
  wchar_t path[MAX_PATH];
  UINT n = GetSystemWindowsDirectoryW(path, MAX_PATH);
  const wchar_t* refusal = nullptr;
  HeldFolder parent;
  InitHeldFolder(&parent);
  bool held = n > 0 && n < MAX_PATH && HoldPath(path, &parent, &refusal) &&
              HoldExistingFolder(&parent, kSystemTemp, kAccess, kSharing, place) == 0 &&
              OnlyAdministratorsCanChangeEntry(place->handle);
  ReleaseHeldFolder(&parent);
  if (!held) ReleaseHeldFolder(place);
  return held;
}

bool HoldProtectedFolder(HeldFolder* place) {
  InitHeldFolder(place);
  wchar_t data[MAX_PATH];
  HeldFolder parent;
  InitHeldFolder(&parent);
  const wchar_t* refusal = L"the machine's application data folder cannot be had";
  bool used = false;
  if (GetSpecialFolder(data, CSIDL_COMMON_APPDATA) &&
      JoinPath(place->path, kHeldPathSize, data, kOwnFolder)) {
    data[lstrlenW(data) - 1] = 0;  // the backslash the shell's folder ends in
    used = HoldPath(data, &parent, &refusal) &&
           MakeOwnFolder(parent, place, &refusal);
  }
  ReleaseHeldFolder(&parent);
  if (!used) {
    ReleaseHeldFolder(place);
    LogPlaceRefused(place->path, refusal);
  }
  return used;
}

void LogPlaceRefused(const wchar_t* path, const wchar_t* why) {
  LogFormat(L"Protected folder %s is not used: %s", path, why);
}
