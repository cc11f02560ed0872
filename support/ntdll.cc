#include "support/ntdll.h"

DWORD ErrorOfStatus(NTSTATUS status) {
  using StatusToErrorFn = ULONG(NTAPI*)(NTSTATUS);
  auto toError = NtdllCall<StatusToErrorFn>("RtlNtStatusToDosError");
  return toError != nullptr ? toError(status) : ERROR_INVALID_FUNCTION;
}
