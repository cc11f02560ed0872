// Calls of ntdll, looked up at run time: the exe imports nothing from it,
// though every Windows and Wine has it.
#pragma once

#include <windows.h>
#include <winternl.h>

template <typename Fn>
Fn NtdllCall(const char* name) {
  return reinterpret_cast<Fn>(reinterpret_cast<void*>(
      GetProcAddress(GetModuleHandleW(L"ntdll.dll"), name)));
}

// The Win32 error code of an NTSTATUS (ERROR_INVALID_FUNCTION when the
// translation itself is missing).
DWORD ErrorOfStatus(NTSTATUS status);
