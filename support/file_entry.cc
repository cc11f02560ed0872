#include "support/file_entry.h"

#include "support/file_util.h"
#include "support/ntdll.h"
#include "support/seams.h"
#include "support/text.h"

namespace {

// Not in the SDK level this program is built for; present from Windows 10.
const FILE_INFO_BY_HANDLE_CLASS kDispositionInfoEx =
    static_cast<FILE_INFO_BY_HANDLE_CLASS>(21);
const DWORD kDispositionDelete = 0x1;
const DWORD kDispositionPosixSemantics = 0x2;
const DWORD kDispositionIgnoreReadOnly = 0x10;

const size_t kRawFinalPathSize = 600;

bool MarkForDeletion(HANDLE entry) {
  FILE_DISPOSITION_INFO dispose = {TRUE};
  return SetFileInformationByHandle(entry, FileDispositionInfo, &dispose,
                                    sizeof dispose) != FALSE;
}

// Not in this SDK's headers: what NtQueryVolumeInformationFile tells of the
// device a volume lies on.
const int kFileFsDeviceInformation = 4;
const ULONG kRemoteDevice = 0x10;
struct DeviceInformation {
  ULONG deviceType;
  ULONG characteristics;
};
using QueryVolumeFn = NTSTATUS(NTAPI*)(HANDLE, PIO_STATUS_BLOCK, PVOID, ULONG,
                                       int);

bool SameText(const wchar_t* a, const wchar_t* b) {
  return CompareStringOrdinal(a, -1, b, -1, TRUE) == CSTR_EQUAL;
}

}  // namespace

HANDLE OpenEntry(const wchar_t* path, DWORD access, DWORD sharing) {
  return CreateFileW(path, access, sharing, nullptr, OPEN_EXISTING,
                     FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT,
                     nullptr);
}

bool IsLinkTag(DWORD attributes, DWORD tag) {
  return (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0 &&
         (tag == 0 || IsReparseTagNameSurrogate(tag));
}

bool ReadAttributeTag(HANDLE entry, FILE_ATTRIBUTE_TAG_INFO* info) {
  return GetFileInformationByHandleEx(entry, FileAttributeTagInfo, info,
                                      sizeof *info) != FALSE;
}

bool HandleIsLink(HANDLE entry) {
  FILE_ATTRIBUTE_TAG_INFO tag;
  return entry != INVALID_HANDLE_VALUE && seams::attributeTag(entry, &tag) &&
         IsLinkTag(tag.FileAttributes, tag.ReparseTag);
}

bool NameIsLink(const wchar_t* path) {
  // A drive's root is no name in any folder, and no link.
  if (lstrlenW(path) == 3 && path[1] == L':' && path[2] == L'\\') return false;
  // The folder's listing of the name: its attributes, and in dwReserved0 the
  // tag of a reparse point.
  WIN32_FIND_DATAW found;
  HANDLE search = FindFirstFileW(path, &found);
  if (search == INVALID_HANDLE_VALUE) return true;
  FindClose(search);
  return IsLinkTag(found.dwFileAttributes, found.dwReserved0);
}

bool ReadUnlessLink(HANDLE entry, const wchar_t* path,
                    BY_HANDLE_FILE_INFORMATION* info) {
  return entry != INVALID_HANDLE_VALUE &&
         GetFileInformationByHandle(entry, info) && !HandleIsLink(entry) &&
         !NameIsLink(path);
}

bool LeadsElsewhere(HANDLE entry, const wchar_t* path) {
  BY_HANDLE_FILE_INFORMATION info;
  if (!ReadUnlessLink(entry, path, &info)) return true;
  // The entry against its folder with the entry's own name added.
  wchar_t folder[MAX_PATH];
  if (!CopyText(folder, MAX_PATH, path)) return true;
  CutLastComponent(folder);
  size_t cut = static_cast<size_t>(lstrlenW(folder));
  if (path[cut] != L'\\') return true;  // no folder part
  if (cut == 2) AppendBackslash(folder, MAX_PATH);  // "C:" alone is no folder
  HANDLE parent = CreateFileW(folder, FILE_READ_ATTRIBUTES, kShareAll, nullptr,
                              OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  bool named = parent != INVALID_HANDLE_VALUE && IsNamedIn(parent, path + cut + 1, entry);
  if (parent != INVALID_HANDLE_VALUE) CloseHandle(parent);
  return !named;
}

bool IsNamedIn(HANDLE folder, const wchar_t* name, HANDLE entry) {
  union NameRecord {
    FILE_NAME_INFO info;
    wchar_t units[kRawFinalPathSize];
  };
  NameRecord outer, inner;
  BY_HANDLE_FILE_INFORMATION a, b;
  if (!GetFileInformationByHandle(folder, &a) || !GetFileInformationByHandle(entry, &b) ||
      a.dwVolumeSerialNumber != b.dwVolumeSerialNumber ||
      !GetFileInformationByHandleEx(folder, FileNameInfo, &outer, sizeof outer) ||
      !GetFileInformationByHandleEx(entry, FileNameInfo, &inner, sizeof inner)) {
    return false;
  }
  wchar_t expected[kRawFinalPathSize];
  wchar_t actual[kRawFinalPathSize];
  int outerLength = static_cast<int>(outer.info.FileNameLength / sizeof(wchar_t));
  int innerLength = static_cast<int>(inner.info.FileNameLength / sizeof(wchar_t));
  if (outerLength >= static_cast<int>(kRawFinalPathSize) - 2 ||
      innerLength >= static_cast<int>(kRawFinalPathSize)) {
    return false;
  }
  CopyMemory(expected, outer.info.FileName, outerLength * sizeof(wchar_t));
  expected[outerLength] = 0;
  CopyMemory(actual, inner.info.FileName, innerLength * sizeof(wchar_t));
  actual[innerLength] = 0;
  return AppendBackslash(expected, kRawFinalPathSize) &&
         AppendText(expected, kRawFinalPathSize, name) && SameText(expected, actual);
}

bool SameEntry(const BY_HANDLE_FILE_INFORMATION& a,
               const BY_HANDLE_FILE_INFORMATION& b) {
  return a.dwVolumeSerialNumber == b.dwVolumeSerialNumber &&
         a.nFileIndexHigh == b.nFileIndexHigh &&
         a.nFileIndexLow == b.nFileIndexLow;
}

bool SameOpenEntry(HANDLE a, HANDLE b) {
  BY_HANDLE_FILE_INFORMATION x, y;
  return GetFileInformationByHandle(a, &x) && GetFileInformationByHandle(b, &y) &&
         SameEntry(x, y);
}

bool FinalPath(HANDLE entry, wchar_t* out, size_t cap) {
  wchar_t raw[kRawFinalPathSize];
  DWORD n = seams::finalPath(entry, raw, kRawFinalPathSize,
                             FILE_NAME_NORMALIZED | VOLUME_NAME_DOS);
  if (n == 0 || n >= kRawFinalPathSize) return false;
  // The system's long-path form, \\?\C:\... or \\?\UNC\server\share\...,
  // back to the form every other call and every message uses.
  const wchar_t* plain = raw;
  if (CompareStringOrdinal(raw, 8, L"\\\\?\\UNC\\", 8, TRUE) == CSTR_EQUAL) {
    raw[6] = L'\\';
    plain = raw + 6;
  } else if (CompareStringOrdinal(raw, 4, L"\\\\?\\", 4, FALSE) == CSTR_EQUAL) {
    plain = raw + 4;
  }
  if (CopyText(out, cap, plain)) return true;
  if (cap > 0) out[0] = 0;
  return false;
}

bool NameForLoader(HANDLE entry, wchar_t* out, size_t cap) {
  wchar_t raw[kRawFinalPathSize];
  bool named = FinalPath(entry, out, cap);
  if (!named) {
    // No drive letter: the system's own name of the volume, which the
    // loader and CreateProcessW take through the GLOBALROOT link.
    DWORD n = seams::finalPath(entry, raw, kRawFinalPathSize,
                               FILE_NAME_NORMALIZED | VOLUME_NAME_NT);
    named = n > 0 && n < kRawFinalPathSize &&
            FormatText(out, cap, L"\\\\?\\GLOBALROOT%s", raw);
  }
  HANDLE check = named ? CreateFileW(out, FILE_READ_ATTRIBUTES, kShareAll, nullptr,
                                     OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr)
                       : INVALID_HANDLE_VALUE;
  named = check != INVALID_HANDLE_VALUE && SameOpenEntry(entry, check);
  if (check != INVALID_HANDLE_VALUE) CloseHandle(check);
  if (!named && cap > 0) out[0] = 0;
  return named;
}

DWORD ResolvePath(HANDLE entry, wchar_t* path, size_t cap) {
  wchar_t resolved[kRawFinalPathSize];
  if (!FinalPath(entry, resolved, cap < kRawFinalPathSize ? cap : kRawFinalPathSize)) {
    DWORD error = GetLastError();
    return error != 0 ? error : ERROR_FILENAME_EXCED_RANGE;
  }
  if (!SameText(resolved, path)) CopyText(path, cap, resolved);
  return 0;
}

bool DeleteThroughHandle(HANDLE entry) {
  DWORD flags = kDispositionDelete | kDispositionPosixSemantics |
                kDispositionIgnoreReadOnly;
  if (SetFileInformationByHandle(entry, kDispositionInfoEx, &flags,
                                 sizeof flags) ||
      MarkForDeletion(entry)) {
    return true;
  }
  // Without POSIX semantics a read-only entry cannot go (Windows refuses a
  // read-only folder too): the mark is cleared on the handle and put back if
  // it still cannot go. Not for a file with other names: the mark is theirs
  // too.
  BY_HANDLE_FILE_INFORMATION info;
  if (!GetFileInformationByHandle(entry, &info) ||
      (info.dwFileAttributes & FILE_ATTRIBUTE_READONLY) == 0 ||
      info.nNumberOfLinks > 1) {
    return false;
  }
  FILE_BASIC_INFO basic = {};  // zero times: left as they are
  basic.FileAttributes = info.dwFileAttributes & ~FILE_ATTRIBUTE_READONLY;
  if (basic.FileAttributes == 0) basic.FileAttributes = FILE_ATTRIBUTE_NORMAL;
  if (!SetFileInformationByHandle(entry, FileBasicInfo, &basic, sizeof basic)) {
    return false;
  }
  if (MarkForDeletion(entry)) return true;
  basic.FileAttributes = info.dwFileAttributes;
  SetFileInformationByHandle(entry, FileBasicInfo, &basic, sizeof basic);
  return false;
}

bool DeleteEntryItself(const wchar_t* path) {
  HANDLE entry = OpenEntry(path, kDeleteAccess, kShareAll);
  if (entry == INVALID_HANDLE_VALUE) return false;
  bool linkItself = HandleIsLink(entry);
  bool deleted =
      (linkItself || !LeadsElsewhere(entry, path)) && DeleteThroughHandle(entry);
  CloseHandle(entry);
  return deleted;
}

bool DeleteSameEntry(const wchar_t* path,
                     const BY_HANDLE_FILE_INFORMATION& identity) {
  HANDLE entry = OpenEntry(path, kDeleteAccess, kShareAll);
  BY_HANDLE_FILE_INFORMATION info;
  bool deleted = ReadUnlessLink(entry, path, &info) &&
                 SameEntry(info, identity) && DeleteThroughHandle(entry);
  if (entry != INVALID_HANDLE_VALUE) CloseHandle(entry);
  return deleted;
}

namespace {

bool VolumeKeepsAcls(HANDLE entry) {
  DWORD flags = 0;
  return GetVolumeInformationByHandleW(entry, nullptr, 0, nullptr, nullptr,
                                       &flags, nullptr, 0) &&
         (flags & FILE_PERSISTENT_ACLS) != 0;
}

bool VolumeIsLocal(HANDLE entry) {
  auto query = NtdllCall<QueryVolumeFn>("NtQueryVolumeInformationFile");
  DeviceInformation device = {};
  IO_STATUS_BLOCK status;
  return query != nullptr &&
         query(entry, &status, &device, sizeof device,
               kFileFsDeviceInformation) >= 0 &&
         (device.characteristics & kRemoteDevice) == 0;
}

}  // namespace

bool VolumeIsLocalWithAcls(HANDLE entry) {
  return VolumeIsLocal(entry) && VolumeKeepsAcls(entry);
}

PSECURITY_DESCRIPTOR ReadEntrySecurity(HANDLE entry) {
  const SECURITY_INFORMATION wanted =
      OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION;
  DWORD needed = 0;
  GetKernelObjectSecurity(entry, wanted, nullptr, 0, &needed);
  if (needed == 0) return nullptr;
  PSECURITY_DESCRIPTOR descriptor = LocalAlloc(LMEM_FIXED, needed);
  if (descriptor != nullptr &&
      !GetKernelObjectSecurity(entry, wanted, descriptor, needed, &needed)) {
    LocalFree(descriptor);
    descriptor = nullptr;
  }
  return descriptor;
}

