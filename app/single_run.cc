#include "app/single_run.h"

#include "app/setup_handoff.h"

namespace {

const wchar_t kSingleRunName[] = L"Global\\TalvornExtractorRun";
const wchar_t kRunMark[] = L"TalvornExtractorRun";

// Never closed: it goes with the process.
HANDLE runObject = nullptr;

struct Search {
  DWORD process;  // of the running copy's marked dialog, 0 until found
  HWND front;
};

BOOL CALLBACK FindMarkedDialog(HWND window, LPARAM searchAddress) {
  auto* search = reinterpret_cast<Search*>(searchAddress);
  if (GetPropW(window, kRunMark) == nullptr) return TRUE;
  GetWindowThreadProcessId(window, &search->process);
  return FALSE;
}

// Windows come in z-order: the first visible one of that copy is its top
// one, a message box of its own or the progress dialog.
BOOL CALLBACK FindFrontWindow(HWND window, LPARAM searchAddress) {
  auto* search = reinterpret_cast<Search*>(searchAddress);
  DWORD process = 0;
  GetWindowThreadProcessId(window, &process);
  if (process == search->process && IsWindowVisible(window)) {
    search->front = window;
    return FALSE;
  }
  if (search->front == nullptr && SetupTitleOf(window) != SetupTitle::kNone) {
    search->front = window;  // the setup program, unless the copy shows one
  }
  return TRUE;
}

void BringRunningCopyForward() {
  Search search = {0, nullptr};
  EnumWindows(FindMarkedDialog, reinterpret_cast<LPARAM>(&search));
  if (search.process == 0) return;
  EnumWindows(FindFrontWindow, reinterpret_cast<LPARAM>(&search));
  if (search.front != nullptr) SetForegroundWindow(search.front);
}

}  // namespace

bool ClaimSingleRun() {
  runObject = CreateMutexW(nullptr, FALSE, kSingleRunName);
  DWORD error = GetLastError();
  // Made by another user's run, it exists but may not be opened.
  bool another = runObject != nullptr ? error == ERROR_ALREADY_EXISTS
                                      : error == ERROR_ACCESS_DENIED;
  if (!another) return true;
  BringRunningCopyForward();
  return false;
}

void MarkRunWindow(HWND dialog) {
  SetPropW(dialog, kRunMark, reinterpret_cast<HANDLE>(1));
}
