#include "app/single_run.h"

#include "app/setup_handoff.h"
#include "app/window_level.h"
#include "security/elevation.h"
#include "security/object_security.h"

namespace {

const wchar_t kNamespaceAlias[] = L"TalvornExtractor";
const wchar_t kNamespacedName[] = L"TalvornExtractor\\Run";
const wchar_t kGlobalName[] = L"Global\\TalvornExtractorRun";
const wchar_t kRunMark[] = L"TalvornExtractorRun";
// DIRECTORY_ALL_ACCESS, which only the kernel's headers name.
const DWORD kNamespaceAccess = STANDARD_RIGHTS_REQUIRED | 0xF;

// Never closed: they go with the process.
HANDLE runNamespace = nullptr;
HANDLE runObject = nullptr;

// Typed by the declaration, which decltype leaves unreferenced: no import.
template <typename Fn>
Fn* KernelCall(const char* name) {
  return reinterpret_cast<Fn*>(reinterpret_cast<void*>(
      GetProcAddress(GetModuleHandleW(L"kernel32.dll"), name)));
}

// A private namespace whose boundary only Administrators can be within and
// whose DACL lets only SYSTEM and Administrators open it: no one else can put
// an object in it. Looked up at run time, since systems without private
// namespaces must still start. Wine has none: its CreateBoundaryDescriptorW
// fails, and its AddSIDToBoundaryDescriptor, where it has one, ends the
// process, so that is called only with a descriptor made.
bool OpenRunNamespace(HANDLE token) {
  auto createBoundary = KernelCall<decltype(CreateBoundaryDescriptorW)>(
      "CreateBoundaryDescriptorW");
  auto addSid = KernelCall<decltype(AddSIDToBoundaryDescriptor)>(
      "AddSIDToBoundaryDescriptor");
  auto createNamespace = KernelCall<decltype(CreatePrivateNamespaceW)>(
      "CreatePrivateNamespaceW");
  auto openNamespace =
      KernelCall<decltype(OpenPrivateNamespaceW)>("OpenPrivateNamespaceW");
  if (!createBoundary || !addSid || !createNamespace || !openNamespace) {
    return false;
  }
  // Never freed, like the namespace.
  HANDLE boundary = createBoundary(kNamespaceAlias, 0);
  if (boundary == nullptr) return false;
  BYTE administrators[SECURITY_MAX_SID_SIZE];
  DWORD size = sizeof administrators;
  ObjectSecurity security;
  if (!CreateWellKnownSid(WinBuiltinAdministratorsSid, nullptr, administrators,
                          &size) ||
      !addSid(&boundary, administrators) ||
      !BuildObjectSecurity(token, kNamespaceAccess, &security)) {
    return false;
  }
  SECURITY_ATTRIBUTES attributes = {sizeof attributes, &security.descriptor,
                                    FALSE};
  runNamespace = createNamespace(&attributes, boundary, kNamespaceAlias);
  // Made by another run, it exists already.
  if (runNamespace == nullptr) {
    runNamespace = openNamespace(boundary, kNamespaceAlias);
  }
  return runNamespace != nullptr;
}

// True when another run holds the object. A name taken by anyone else (an
// owner no run has, an object we may not open, one of another type) is a
// squat, and this run goes on as the only one.
bool AnotherRunHolds(HANDLE token) {
  // Only an elevated run is within the namespace's boundary.
  bool inNamespace = TokenIsAdministrator(token) && OpenRunNamespace(token);
  ObjectSecurity security;
  if (!BuildObjectSecurity(token, MUTEX_ALL_ACCESS, &security)) return false;
  SECURITY_ATTRIBUTES attributes = {sizeof attributes, &security.descriptor,
                                    FALSE};
  HANDLE object = CreateMutexW(&attributes, FALSE,
                               inNamespace ? kNamespacedName : kGlobalName);
  if (object == nullptr) return false;
  if (GetLastError() != ERROR_ALREADY_EXISTS) {
    runObject = object;
    return false;
  }
  bool another = OwnedLikeARun(object, token);
  CloseHandle(object);
  return another;
}

struct Search {
  DWORD process;  // of the running copy's marked dialog, 0 until found
  HWND front;
};

BOOL CALLBACK FindMarkedDialog(HWND window, LPARAM searchAddress) {
  auto* search = reinterpret_cast<Search*>(searchAddress);
  if (GetPropW(window, kRunMark) == nullptr || !WindowAtOurLevel(window)) {
    return TRUE;
  }
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
  // The setup program, unless the copy shows one; its title counts only at
  // this level or above.
  if (search->front == nullptr && SetupTitleOf(window) != SetupTitle::kNone) {
    search->front = window;
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
  HANDLE token = nullptr;
  if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token)) return true;
  bool another = AnotherRunHolds(token);
  CloseHandle(token);
  if (!another) return true;
  BringRunningCopyForward();
  return false;
}

void MarkRunWindow(HWND dialog) {
  SetPropW(dialog, kRunMark, reinterpret_cast<HANDLE>(1));
}
