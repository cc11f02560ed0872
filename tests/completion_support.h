// What the completion and basic install tests share: the real registry and
// folders of the Wine prefix (HKLM\Software\Talvorn, the program files
// folder, C:\Talvorn), cleared before and after each test, and a held tmp-1 with
// the log beside it.
#pragma once

#include <windows.h>
#include <sddl.h>

#include <string>
#include <vector>

#include "completion/basic_install.h"
#include "completion/complete_install.h"
#include "completion/install_folder.h"
#include "support/file_util.h"
#include "support/log.h"
#include "support/seams.h"
#include "tests/test_support.h"

// An owner and DACL written in SDDL, as the judge's seam hands them out (Wine
// reads back every file as its Unix user's): freed by the caller.
inline PSECURITY_DESCRIPTOR SecurityOf(const wchar_t* sddl) {
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  ConvertStringSecurityDescriptorToSecurityDescriptorW(sddl, SDDL_REVISION_1,
                                                       &descriptor, nullptr);
  return descriptor;
}

// The DACL an earlier version's C:\Talvorn inherits from C:\: Authenticated
// Users may modify it and all inside.
inline PSECURITY_DESCRIPTOR OldVersionsSecurity() {
  return SecurityOf(L"O:BAD:(A;;FA;;;SY)(A;;FA;;;BA)(A;OICIID;0x1301bf;;;AU)");
}

// The DACL this run gives C:\Talvorn, as Windows reads it back after the
// protection.
inline PSECURITY_DESCRIPTOR ProtectedSecurity() {
  return SecurityOf(L"O:BAD:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)(A;OICI;0x1200a9;;;BU)");
}

class CompletionTest : public ExtractorTest {
 protected:
  void SetUp() override {
    ExtractorTest::SetUp();
    KeepWineDesktop();
    for (int i = 0; i < 200 && FindWindowW(L"Shell_TrayWnd", nullptr) == nullptr; ++i) {
      Sleep(10);
    }
    ClearInstallLocations();
    OpenExtractionLog(scratch.path().c_str());
    // What the stand-ins started here record; the launcher starts nothing.
    SetEnvironmentVariableW(L"TALVORN_RECORD_FILE", (scratch / L"records.txt").c_str());
    SetEnvironmentVariableW(L"TALVORN_LAUNCHER_START", L"0");
    tempDirectory = scratch / L"tmp-1";
    CreateDirectoryW(tempDirectory.c_str(), nullptr);
    tmp = HeldAt(tempDirectory);
  }
  void TearDown() override {
    StartedParents();
    SetEnvironmentVariableW(L"TALVORN_RECORD_FILE", nullptr);
    SetEnvironmentVariableW(L"TALVORN_LAUNCHER_START", nullptr);
    ReleaseHeldFolder(&tmp);
    ExtractorTest::TearDown();  // lets go of what the run holds there
    ClearInstallLocations();
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
  // The stand-in application and launcher, real programs, as name in folder;
  // each records its start in the scratch folder and ends at once.
  static void WriteProgram(const std::wstring& path, const wchar_t* standin) {
    WriteBytes(path, ReadBytes(ProgramFolder() + L"\\..\\testkit\\" + standin));
  }
  static std::wstring InstallPrograms(const std::wstring& folder) {
    CreateDirectoryW(folder.c_str(), nullptr);
    WriteProgram(folder + L"\\Talvorn Server.exe", L"Talvorn Server.exe");
    WriteProgram(folder + L"\\Launcher.exe", L"Launcher.exe");
    return folder + L"\\Talvorn Server.exe";
  }
  // The parent process of every program that recorded its start since the
  // last call, once as many as expected have (for at most ten seconds), each
  // waited for until it has ended; their records are kept in started.
  std::vector<DWORD> StartedParents(size_t expected = 0) {
    std::wstring records = scratch / L"records.txt";
    std::vector<size_t> starts;
    std::string text;
    for (int i = 0; i < 200; ++i) {
      text = PathExists(records) ? ReadBytes(records) : "";
      starts.clear();
      for (size_t at = text.find("\tpid="); at != std::string::npos;
           at = text.find("\tpid=", at + 1)) {
        starts.push_back(at);
      }
      if (starts.size() >= expected) break;
      Sleep(50);
    }
    DeleteFileW(records.c_str());
    started = text;
    std::vector<DWORD> parents;
    for (size_t at : starts) {
      parents.push_back(std::stoul(text.substr(text.find("\tparent=", at) + 8)));
      HANDLE process = OpenProcess(SYNCHRONIZE, FALSE, std::stoul(text.substr(at + 5)));
      if (process != nullptr) WaitForSingleObject(process, 5000);
      if (process != nullptr) CloseHandle(process);
    }
    return parents;
  }
  // The desktop shell's process, the parent of what starts as the signed-in
  // user.
  static DWORD ShellProcess() {
    DWORD shell = 0;
    GetWindowThreadProcessId(FindWindowW(L"Shell_TrayWnd", nullptr), &shell);
    if (HWND window = GetShellWindow()) GetWindowThreadProcessId(window, &shell);
    return shell;
  }
  std::wstring tempDirectory;
  std::string started;
  HeldFolder tmp;
  FakeClock clock;  // the launcher's one-second wait
};
