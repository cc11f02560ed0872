// What the completion and basic install tests share: the real registry and
// folders of the Wine prefix (HKLM\Software\Talvorn, the program files
// folder, C:\Talvorn), cleared before and after each test, and a held tmp-1 with
// the log beside it.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

#include "completion/basic_install.h"
#include "completion/complete_install.h"
#include "completion/install_folder.h"
#include "support/file_util.h"
#include "support/log.h"
#include "support/seams.h"
#include "tests/test_support.h"


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
    tempDirectory = scratch / L"tmp-1";
    CreateDirectoryW(tempDirectory.c_str(), nullptr);
    tmp = HeldAt(tempDirectory);
  }
  void TearDown() override {
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
  std::wstring tempDirectory;
  HeldFolder tmp;
  FakeClock clock;  // the launcher's one-second wait
};
