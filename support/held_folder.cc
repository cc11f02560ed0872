#include "support/held_folder.h"

#include "support/file_entry.h"
#include "support/file_util.h"
#include "support/ntdll.h"
#include "support/seams.h"
#include "support/text.h"

namespace {

const DWORD kRetryForMs = 2000;
const DWORD kRetryEveryMs = 100;
// The extractor's own folder is held without delete sharing from the start:
// until tmp-n and the log exist nothing inside it is open, and NTFS would let
// it be renamed and another put in its place.
const ULONG kHoldSharing = FILE_SHARE_READ | FILE_SHARE_WRITE;

using DosPathToNtPathFn = BOOLEAN(NTAPI*)(PCWSTR, PUNICODE_STRING, PCWSTR*,
                                          PVOID);
using FreeUnicodeStringFn = VOID(NTAPI*)(PUNICODE_STRING);

bool Transient(DWORD error) {
  return error == ERROR_SHARING_VIOLATION || error == ERROR_LOCK_VIOLATION;
}

// The path of name in parent, for messages; empty, and false, when it does
// not fit.
bool JoinHeldPath(wchar_t* out, const HeldFolder* parent, const wchar_t* name) {
  bool fits = parent == nullptr
                  ? CopyText(out, kHeldPathSize, name)
                  : CopyText(out, kHeldPathSize, parent->path) &&
                        AppendText(out, kHeldPathSize, L"\\") &&
                        AppendText(out, kHeldPathSize, name);
  if (!fits) out[0] = 0;
  return fits;
}

// The one call that opens: name relative to root, or with none, a full
// path (converted from its DOS form unless it is the system's own already).
DWORD OpenName(HANDLE root, bool systemName, const wchar_t* name,
               ACCESS_MASK access, ULONG sharing, ULONG disposition,
               ULONG options, SECURITY_DESCRIPTOR* descriptor, HANDLE* out) {
  *out = INVALID_HANDLE_VALUE;
  // Looked up once: an unpacking opens every entry through here.
  static DosPathToNtPathFn toNtPath = nullptr;
  static FreeUnicodeStringFn freeString = nullptr;
  if (seams::createFile == nullptr) {
    seams::createFile = NtdllCall<seams::CreateFileFn>("NtCreateFile");
  }
  if (toNtPath == nullptr) {
    toNtPath = NtdllCall<DosPathToNtPathFn>("RtlDosPathNameToNtPathName_U");
    freeString = NtdllCall<FreeUnicodeStringFn>("RtlFreeUnicodeString");
  }
  if (seams::createFile == nullptr || toNtPath == nullptr || freeString == nullptr) {
    return ERROR_INVALID_FUNCTION;
  }
  UNICODE_STRING ntName;
  bool converted = root == nullptr && !systemName;
  if (converted) {
    if (!toNtPath(name, &ntName, nullptr, nullptr)) return ERROR_BAD_PATHNAME;
  } else {
    // Relative to the held folder, or the system's own name: as it stands.
    size_t length = static_cast<size_t>(lstrlenW(name));
    if (length == 0 || length > 0x7FF0) return ERROR_BAD_PATHNAME;
    ntName.Buffer = const_cast<wchar_t*>(name);
    ntName.Length = static_cast<USHORT>(length * sizeof(wchar_t));
    ntName.MaximumLength = ntName.Length;
  }
  OBJECT_ATTRIBUTES object;
  InitializeObjectAttributes(&object, &ntName, OBJ_CASE_INSENSITIVE, root,
                             descriptor);
  IO_STATUS_BLOCK status;
  HANDLE handle = INVALID_HANDLE_VALUE;
  ULONG io = (options & kAsynchronousIo) != 0 ? 0 : FILE_SYNCHRONOUS_IO_NONALERT;
  NTSTATUS result = seams::createFile(
      &handle, access | SYNCHRONIZE, &object, &status, nullptr,
      FILE_ATTRIBUTE_NORMAL, sharing, disposition,
      (options & ~kAsynchronousIo) | io | FILE_OPEN_REPARSE_POINT, nullptr, 0);
  if (converted) freeString(&ntName);
  // As CreateFileW answers a new file's name that is taken.
  const NTSTATUS kNameCollision = static_cast<NTSTATUS>(0xC0000035);
  if (result == kNameCollision && (options & FILE_NON_DIRECTORY_FILE) != 0) {
    return ERROR_FILE_EXISTS;
  }
  if (result < 0) return ErrorOfStatus(result);
  *out = handle;
  return 0;
}

}  // namespace

bool IsHeld(const HeldFolder& folder) {
  return folder.handle != nullptr && folder.handle != INVALID_HANDLE_VALUE;
}

void InitHeldFolder(HeldFolder* folder) {
  folder->handle = INVALID_HANDLE_VALUE;
  folder->path[0] = 0;
}

void ReleaseHeldFolder(HeldFolder* folder) {
  if (IsHeld(*folder)) CloseHandle(folder->handle);
  folder->handle = INVALID_HANDLE_VALUE;
}

DWORD OpenInFolder(const HeldFolder* folder, const wchar_t* name,
                   ACCESS_MASK access, ULONG sharing, ULONG disposition,
                   ULONG options, SECURITY_DESCRIPTOR* descriptor, HANDLE* out) {
  if (folder != nullptr && !IsHeld(*folder)) {
    *out = INVALID_HANDLE_VALUE;
    return ERROR_INVALID_HANDLE;
  }
  return OpenName(folder != nullptr ? folder->handle : nullptr, false, name,
                  access, sharing, disposition, options, descriptor, out);
}

namespace {

// The one loop of both retrying forms: the folder held in *held when one is
// given, else the entry opened into *out, tried again while another program
// holds it in a way that excludes this open, for about two seconds.
DWORD Retrying(const HeldFolder* folder, const wchar_t* name,
               ACCESS_MASK access, ULONG sharing, ULONG disposition,
               ULONG options, HANDLE* out, HeldFolder* held) {
  DWORD start = seams::tickCount();
  for (;;) {
    DWORD error =
        held != nullptr
            ? HoldExistingFolder(folder, name, access, sharing, held)
            : OpenInFolder(folder, name, access, sharing, disposition, options,
                           nullptr, out);
    // Unsigned difference: the tick counter's wrap does no harm.
    if (!Transient(error) || seams::tickCount() - start >= kRetryForMs) {
      return error;
    }
    seams::sleep(kRetryEveryMs);
  }
}

}  // namespace

DWORD OpenInFolderRetrying(const HeldFolder* folder, const wchar_t* name,
                           ACCESS_MASK access, ULONG sharing, ULONG disposition,
                           ULONG options, HANDLE* out) {
  return Retrying(folder, name, access, sharing, disposition, options, out,
                  nullptr);
}

FolderMade MakeHeldFolder(const HeldFolder* parent, const wchar_t* name,
                          SECURITY_DESCRIPTOR* descriptor, ACCESS_MASK access,
                          ULONG sharing, HeldFolder* made, DWORD* error) {
  InitHeldFolder(made);
  // A folder whose path messages could not name is not made.
  if (!JoinHeldPath(made->path, parent, name)) {
    *error = ERROR_FILENAME_EXCED_RANGE;
    return FolderMade::kFailed;
  }
  *error = OpenInFolder(parent, name, access, sharing, FILE_CREATE,
                        FILE_DIRECTORY_FILE, descriptor, &made->handle);
  if (*error == 0) return FolderMade::kMade;
  return *error == ERROR_ALREADY_EXISTS ? FolderMade::kExists
                                        : FolderMade::kFailed;
}

DWORD HoldExistingFolder(const HeldFolder* parent, const wchar_t* name,
                         ACCESS_MASK access, ULONG sharing, HeldFolder* held) {
  InitHeldFolder(held);
  // Nor held: its link check goes by that path.
  if (!JoinHeldPath(held->path, parent, name)) return ERROR_FILENAME_EXCED_RANGE;
  DWORD error = OpenInFolder(parent, name, access | FILE_READ_ATTRIBUTES,
                             sharing, FILE_OPEN, FILE_DIRECTORY_FILE, nullptr,
                             &held->handle);
  if (error != 0) return error;
  // Opened as itself: a link shows here, where Windows opens it. Wine follows
  // a link to a folder, but its listing still tells.
  if (HandleIsLink(held->handle) || NameIsLink(held->path)) {
    ReleaseHeldFolder(held);
    return kReparsePointEncountered;
  }
  return 0;
}

DWORD HoldExistingFolderRetrying(const HeldFolder* parent, const wchar_t* name,
                                 ACCESS_MASK access, ULONG sharing,
                                 HeldFolder* held) {
  return Retrying(parent, name, access, sharing, FILE_OPEN, 0, nullptr, held);
}

DWORD DeleteInFolder(const HeldFolder& folder, const wchar_t* name,
                     const BY_HANDLE_FILE_INFORMATION* identity) {
  HANDLE entry = INVALID_HANDLE_VALUE;
  DWORD error = OpenInFolder(&folder, name, kDeleteAccess, kShareAll, FILE_OPEN,
                             0, nullptr, &entry);
  if (error != 0) return error;
  BY_HANDLE_FILE_INFORMATION info;
  if (identity != nullptr && (!GetFileInformationByHandle(entry, &info) ||
                              !SameEntry(info, *identity))) {
    error = ERROR_FILE_INVALID;
  } else if (!HandleIsLink(entry) && !IsNamedIn(folder.handle, name, entry)) {
    error = kReparsePointEncountered;  // it could only be reached through it
  } else if (!DeleteThroughHandle(entry)) {
    error = GetLastError();
  }
  CloseHandle(entry);
  return error;
}

DWORD HoldFolderAsNamed(const wchar_t* path, HeldFolder* held) {
  InitHeldFolder(held);
  if (!CopyText(held->path, kHeldPathSize, path)) return ERROR_FILENAME_EXCED_RANGE;
  held->handle = CreateFileW(path, FILE_LIST_DIRECTORY | FILE_TRAVERSE |
                                       FILE_READ_ATTRIBUTES,
                             kHoldSharing, nullptr, OPEN_EXISTING,
                             FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  return held->handle == INVALID_HANDLE_VALUE ? GetLastError() : 0;
}

bool FileExistsIn(const HeldFolder& folder, const wchar_t* name) {
  HANDLE file = INVALID_HANDLE_VALUE;
  if (OpenInFolder(&folder, name, GENERIC_READ, 0, FILE_OPEN,
                   FILE_NON_DIRECTORY_FILE, nullptr, &file) != 0) {
    return false;
  }
  CloseHandle(file);
  return true;
}

uint8_t* ReadFileContentsIn(const HeldFolder& folder, const wchar_t* name) {
  wchar_t path[kHeldPathSize];
  JoinHeldPath(path, &folder, name);
  HANDLE file = INVALID_HANDLE_VALUE;
  OpenInFolder(&folder, name, GENERIC_READ, FILE_SHARE_READ, FILE_OPEN,
               FILE_NON_DIRECTORY_FILE, nullptr, &file);
  return ReadOpenedFile(file, path);
}

DWORD HoldFolderByNtName(const wchar_t* name, HeldFolder* held) {
  InitHeldFolder(held);
  return OpenName(nullptr, true, name,
                  FILE_LIST_DIRECTORY | FILE_TRAVERSE | FILE_READ_ATTRIBUTES,
                  kHoldSharing, FILE_OPEN, FILE_DIRECTORY_FILE, nullptr,
                  &held->handle);
}
