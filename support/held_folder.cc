#include "support/held_folder.h"

#include <winternl.h>

namespace {

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
using StatusToErrorFn = ULONG(NTAPI*)(NTSTATUS);

template <typename Fn>
Fn NtdllFunction(const char* name) {
  return reinterpret_cast<Fn>(reinterpret_cast<void*>(
      GetProcAddress(GetModuleHandleW(L"ntdll.dll"), name)));
}

}  // namespace

// Looked up rather than imported: the exe imports nothing from ntdll, which
// every Windows and Wine has.
FolderMade MakeHeldFolder(const wchar_t* path, SECURITY_DESCRIPTOR* descriptor,
                          ACCESS_MASK access, ULONG sharing, HANDLE* held,
                          DWORD* error) {
  *held = INVALID_HANDLE_VALUE;
  *error = ERROR_INVALID_FUNCTION;
  auto create = NtdllFunction<NtCreateFileFn>("NtCreateFile");
  auto toNtPath =
      NtdllFunction<DosPathToNtPathFn>("RtlDosPathNameToNtPathName_U");
  auto freeString = NtdllFunction<FreeUnicodeStringFn>("RtlFreeUnicodeString");
  auto toError = NtdllFunction<StatusToErrorFn>("RtlNtStatusToDosError");
  UNICODE_STRING name;
  if (create == nullptr || toNtPath == nullptr || freeString == nullptr ||
      toError == nullptr) {
    return FolderMade::kFailed;
  }
  if (!toNtPath(path, &name, nullptr, nullptr)) {
    *error = ERROR_BAD_PATHNAME;
    return FolderMade::kFailed;
  }
  OBJECT_ATTRIBUTES object;
  InitializeObjectAttributes(&object, &name, OBJ_CASE_INSENSITIVE, nullptr,
                             descriptor);
  IO_STATUS_BLOCK status;
  HANDLE handle = INVALID_HANDLE_VALUE;
  NTSTATUS result = create(&handle, access | SYNCHRONIZE, &object, &status,
                           nullptr, FILE_ATTRIBUTE_NORMAL, sharing,
                           FILE_CREATE, kCreateOptions, nullptr, 0);
  freeString(&name);
  if (result >= 0) {
    *held = handle;
    return FolderMade::kMade;
  }
  *error = toError(result);
  return result == kNameCollision ? FolderMade::kExists : FolderMade::kFailed;
}
