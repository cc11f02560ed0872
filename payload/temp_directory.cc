#include "payload/temp_directory.h"

#include <winternl.h>

#include "payload/extract.h"  // kPathSize
#include "support/errors.h"
#include "support/folder_security.h"
#include "support/text.h"

namespace {

HANDLE heldDirectory = INVALID_HANDLE_VALUE;

enum class Made { kMade, kTaken, kFailed };  // kTaken: try the next number

// Only data access takes part in sharing checks: listing the folder makes
// the missing delete sharing hold against everyone else.
const ACCESS_MASK kHeldAccess = FILE_LIST_DIRECTORY | FILE_TRAVERSE | SYNCHRONIZE;
const ULONG kHeldSharing = FILE_SHARE_READ | FILE_SHARE_WRITE;
const NTSTATUS kNameCollision = static_cast<NTSTATUS>(0xC0000035);
const ULONG kCreateOptions =
    FILE_DIRECTORY_FILE | FILE_SYNCHRONOUS_IO_NONALERT | FILE_OPEN_REPARSE_POINT;

using NtCreateFileFn = NTSTATUS(NTAPI*)(PHANDLE, ACCESS_MASK,
                                        POBJECT_ATTRIBUTES, PIO_STATUS_BLOCK,
                                        PLARGE_INTEGER, ULONG, ULONG, ULONG,
                                        ULONG, PVOID, ULONG);
using DosPathToNtPathFn = BOOLEAN(NTAPI*)(PCWSTR, PUNICODE_STRING, PCWSTR*,
                                          PVOID);
using FreeUnicodeStringFn = VOID(NTAPI*)(PUNICODE_STRING);

template <typename Fn>
Fn NtdllFunction(const char* name) {
  return reinterpret_cast<Fn>(reinterpret_cast<void*>(
      GetProcAddress(GetModuleHandleW(L"ntdll.dll"), name)));
}

// Made and opened in one call, so that no other process can take the name
// between the two. Looked up rather than imported: the exe imports nothing
// from ntdll, which every Windows and Wine has.
Made MakeAndHold(const wchar_t* path, SECURITY_DESCRIPTOR* descriptor) {
  auto create = NtdllFunction<NtCreateFileFn>("NtCreateFile");
  auto toNtPath =
      NtdllFunction<DosPathToNtPathFn>("RtlDosPathNameToNtPathName_U");
  auto freeString = NtdllFunction<FreeUnicodeStringFn>("RtlFreeUnicodeString");
  UNICODE_STRING name;
  if (create == nullptr || toNtPath == nullptr || freeString == nullptr ||
      !toNtPath(path, &name, nullptr, nullptr)) {
    return Made::kFailed;
  }
  OBJECT_ATTRIBUTES object;
  InitializeObjectAttributes(&object, &name, OBJ_CASE_INSENSITIVE, nullptr,
                             descriptor);
  IO_STATUS_BLOCK status;
  HANDLE handle = INVALID_HANDLE_VALUE;
  NTSTATUS result = create(&handle, kHeldAccess, &object, &status, nullptr,
                           FILE_ATTRIBUTE_NORMAL, kHeldSharing, FILE_CREATE,
                           kCreateOptions, nullptr, 0);
  freeString(&name);
  if (result >= 0) {
    heldDirectory = handle;
    return Made::kMade;
  }
  return result == kNameCollision ? Made::kTaken : Made::kFailed;
}

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

}  // namespace

void CreateTempDirectory(wchar_t* path, const wchar_t* stem) {
  ReleaseTempDirectory();
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
    if (MakeAndHold(candidate, descriptor) != Made::kTaken) break;
  }
  CopyText(path, kPathSize, candidate);
}

void ReleaseTempDirectory() {
  if (heldDirectory == INVALID_HANDLE_VALUE) return;
  CloseHandle(heldDirectory);
  heldDirectory = INVALID_HANDLE_VALUE;
}

bool TempDirectoryHeld() { return heldDirectory != INVALID_HANDLE_VALUE; }
