#include "app/dll_safety.h"

#include <windows.h>

void RestrictDllSearch() {
  // Looked up rather than imported: systems without the call still start,
  // with the narrower protection below.
  using SetDefaultDllDirectoriesFn = BOOL(WINAPI*)(DWORD);
  HMODULE kernel = GetModuleHandleW(L"kernel32.dll");
  auto setDefault = reinterpret_cast<SetDefaultDllDirectoriesFn>(
      reinterpret_cast<void*>(GetProcAddress(kernel, "SetDefaultDllDirectories")));
  if (setDefault != nullptr) setDefault(LOAD_LIBRARY_SEARCH_SYSTEM32);
  // Takes the current directory out of the search order.
  SetDllDirectoryW(L"");
}
