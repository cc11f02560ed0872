// What the completion and basic install tests share: the real registry and
// folders of the Wine prefix (HKLM\Software\Talvorn, the program files
// folder, C:\Talvorn), cleared before and after each test, a held tmp-1 with
// the log beside it, and a spy on every open the run makes.
#pragma once

#include <windows.h>
#include <winternl.h>

#include <functional>
#include <string>
#include <vector>

#include "completion/basic_install.h"
#include "completion/complete_install.h"
#include "completion/install_folder.h"
#include "support/file_util.h"
#include "support/log.h"
#include "support/seams.h"
#include "tests/test_support.h"


// Every open the run makes, seen first by the test: a status to answer
// with, or 0 to let it through.
struct Open {
  std::wstring name;
  HANDLE root;
  ACCESS_MASK access;
  ULONG sharing, disposition;
};
inline std::function<NTSTATUS(const Open&)> onOpen;
inline seams::CreateFileFn realCreateFile = nullptr;

inline NTSTATUS NTAPI SpyCreateFile(PHANDLE handle, ACCESS_MASK access,
                             POBJECT_ATTRIBUTES object, PIO_STATUS_BLOCK status,
                             PLARGE_INTEGER size, ULONG attributes, ULONG sharing,
                             ULONG disposition, ULONG options, PVOID ea, ULONG eaSize) {
  Open open{std::wstring(object->ObjectName->Buffer,
                         object->ObjectName->Length / sizeof(wchar_t)),
            object->RootDirectory, access, sharing, disposition};
  NTSTATUS answer = onOpen ? onOpen(open) : 0;
  if (answer != 0) return answer;
  return realCreateFile(handle, access, object, status, size, attributes, sharing,
                        disposition, options, ea, eaSize);
}

// Puts the spy between the run and NtCreateFile while alive.
struct OpenSpy {
  explicit OpenSpy(std::function<NTSTATUS(const Open&)> decide) {
    realCreateFile = reinterpret_cast<seams::CreateFileFn>(reinterpret_cast<void*>(
        GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "NtCreateFile")));
    onOpen = std::move(decide);
    seams::createFile = SpyCreateFile;
  }
  ~OpenSpy() {
    seams::createFile = realCreateFile;
    onOpen = nullptr;
  }
};

class CompletionTest : public ExtractorTest {
 protected:
  void SetUp() override {
    ExtractorTest::SetUp();
    // Wine starts its desktop process, the signed-in user's shell, for the
    // first window on the desktop.
    static HWND desktopKeeper = CreateWindowExW(0, L"STATIC", L"", WS_POPUP, 0, 0, 1,
                                                1, nullptr, nullptr, nullptr, nullptr);
    (void)desktopKeeper;
    for (int i = 0; i < 200 && FindWindowW(L"Shell_TrayWnd", nullptr) == nullptr; ++i) {
      Sleep(10);
    }
    ClearInstallLocations();
    OpenExtractionLog(scratch.path().c_str());
    tempDirectory = scratch / L"tmp-1";
    CreateDirectoryW(tempDirectory.c_str(), nullptr);
    tmp = HeldAt(tempDirectory);
  }
  void TearDown() override {
    ReleaseHeldFolder(&tmp);
    ExtractorTest::TearDown();  // lets go of what the run holds there
    ClearInstallLocations();
  }
  static std::wstring ProgramFilesInstall() {
    wchar_t folder[kFolderPathSize];
    GetProgramFilesFolder(folder);
    return std::wstring(folder) + L"Talvorn";
  }
  static void ClearInstallLocations() {
    RegDeleteKeyW(HKEY_LOCAL_MACHINE, L"Software\\Talvorn");
    RemoveTree(L"C:\\Talvorn");
    RemoveTree(ProgramFilesInstall());
  }
  // An installed copy: the application and a launcher beside it.
  static std::wstring Install(const std::wstring& folder) {
    CreateDirectoryW(folder.c_str(), nullptr);
    WriteBytes(folder + L"\\Talvorn Server.exe", "app");
    WriteBytes(folder + L"\\Launcher.exe", "launcher");
    return folder + L"\\Talvorn Server.exe";
  }
  // Which copy was chosen shows by its launcher, removed after the question.
  static bool Chosen(const std::wstring& folder) {
    return !PathExists(folder + L"\\Launcher.exe");
  }
  void WriteHandOff(const std::wstring& text) {
    WriteBytes(tempDirectory + L"\\InstalledApp.txt",
               std::string(reinterpret_cast<const char*>(text.data()),
                           text.size() * 2));
  }
  static void SetInstPath(const std::wstring& value) {
    HKEY key;
    RegCreateKeyW(HKEY_LOCAL_MACHINE, L"Software\\Talvorn", &key);
    RegSetValueExW(key, L"InstPath", 0, REG_SZ,
                   reinterpret_cast<const BYTE*>(value.c_str()),
                   static_cast<DWORD>((value.size() + 1) * 2));
    RegCloseKey(key);
  }
  int CompleteWithCancel() {
    boxes.QueueAnswer(IDCANCEL);
    return CompleteInstall(tmp);
  }
  std::vector<std::wstring> Captions() const {
    std::vector<std::wstring> captions;
    for (const RecordedBox& box : boxes.boxes) captions.push_back(box.caption);
    return captions;
  }
  std::wstring tempDirectory;
  HeldFolder tmp;
  FakeClock clock;  // the launcher's one-second wait
};
