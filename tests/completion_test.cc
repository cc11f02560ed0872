// Finding the installed application and the basic install, against the real
// registry and folders of the Wine prefix (HKLM\Software\Talvorn, the program
// files folder, C:\Talvorn); each test starts and ends with them cleared.
#include "completion/basic_install.h"
#include "completion/complete_install.h"
#include "completion/install_folder.h"

#include "support/errors.h"
#include "support/file_util.h"
#include "support/log.h"
#include "tests/test_support.h"

namespace {

class CompletionTest : public ExtractorTest {
 protected:
  void SetUp() override {
    ExtractorTest::SetUp();
    ClearInstallLocations();
    OpenExtractionLog(scratch.path().c_str());
    tempDirectory = scratch / L"tmp-1";
    CreateDirectoryW(tempDirectory.c_str(), nullptr);
  }
  void TearDown() override {
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
    return CompleteInstall(tempDirectory.c_str());
  }
  std::vector<std::wstring> Captions() const {
    std::vector<std::wstring> captions;
    for (const RecordedBox& box : boxes.boxes) captions.push_back(box.caption);
    return captions;
  }
  std::wstring tempDirectory;
  FakeClock clock;  // the launcher's one-second wait
};

TEST_F(CompletionTest, TheHandOffFileLeadsStraightToTheQuestion) {
  std::wstring named = scratch / L"named";
  std::wstring registered = scratch / L"registered";
  WriteHandOff(Install(named));
  Install(registered);
  SetInstPath(registered);
  EXPECT_EQ(1, CompleteWithCancel());
  ASSERT_EQ(1u, boxes.boxes.size());
  EXPECT_EQ(L"Complete", boxes.boxes[0].caption);
  EXPECT_EQ(L"Do you wish to launch the application now?", boxes.boxes[0].text);
  EXPECT_EQ(UINT(MB_OKCANCEL | MB_ICONQUESTION), boxes.boxes[0].flags);
  // Cancel starts nothing, but the launcher still goes, a second later.
  EXPECT_TRUE(Chosen(named));
  EXPECT_FALSE(Chosen(registered));
  EXPECT_EQ(std::vector<DWORD>{1000}, clock.sleeps);
}

TEST_F(CompletionTest, AHandOffWithAByteOrderMarkOrALineEndIsPassedOver) {
  std::wstring named = scratch / L"named";
  std::wstring registered = scratch / L"registered";
  std::wstring app = Install(named);
  for (const std::wstring& text :
       {L"\xFEFF" + app, app + L"\r\n", app + std::wstring(300, L'x')}) {
    Install(registered);
    SetInstPath(registered + L"\\");
    WriteHandOff(text);
    EXPECT_EQ(1, CompleteWithCancel());
    EXPECT_FALSE(Chosen(named));
    EXPECT_TRUE(Chosen(registered));
  }
}

TEST_F(CompletionTest, InstPathIsReadUpTo129Characters) {
  std::wstring base = scratch.path() + L"\\";
  std::wstring folder129 = base + std::wstring(129 - base.size(), L'r');
  std::wstring folder130 = folder129 + L"s";
  Install(folder129);
  Install(folder130);
  SetInstPath(folder130);
  EXPECT_EQ(0, CompleteWithCancel());  // too long: absent, nothing elsewhere
  EXPECT_EQ(std::vector<std::wstring>{L"Error"}, Captions());  // no hand-off
  SetInstPath(folder129);
  EXPECT_EQ(1, CompleteWithCancel());
  EXPECT_TRUE(Chosen(folder129));
}

// What the test makes reads, under Wine, as its user's: as a standard user's
// folder would on Windows, C:\Talvorn is then never used.
TEST_F(CompletionTest, ProgramFilesComesBeforeTheFixedFolder) {
  Install(L"C:\\Talvorn");
  Install(ProgramFilesInstall());
  EXPECT_EQ(1, CompleteWithCancel());
  EXPECT_TRUE(Chosen(ProgramFilesInstall()));
  EXPECT_FALSE(Chosen(L"C:\\Talvorn"));
  RemoveTree(ProgramFilesInstall());
  EXPECT_EQ(0, CompleteWithCancel());
  EXPECT_FALSE(Chosen(L"C:\\Talvorn"));  // nothing asked, nothing deleted
  EXPECT_EQ((std::vector<std::wstring>{L"Error", L"Complete", L"Error"}), Captions());
}

// This run's own basic install is offered, unless something that an
// administrator did not put there lies beside the copy: a launcher would be
// started instead, a library loaded into it.
TEST_F(CompletionTest, TheFixedFolderIsUsedOnlyWhenNobodyElseCouldHaveFilledIt) {
  WriteBytes(tempDirectory + L"\\Talvorn Server.exe", "new");
  for (const wchar_t* planted : {L"", L"Launcher.exe", L"version.dll", L"plugins"}) {
    SCOPED_TRACE(Narrow(planted));
    ClearInstallLocations();
    ReleaseInstallFolder();
    boxes.boxes.clear();
    boxes.QueueAnswer(IDOK);
    ASSERT_EQ(1, BasicInstall(tempDirectory.c_str()));
    std::wstring plant = std::wstring(L"C:\\Talvorn\\") + planted;
    if (*planted == L'p') {
      CreateDirectoryW(plant.c_str(), nullptr);
    } else if (*planted != 0) {
      WriteBytes(plant, "planted");
    }
    EXPECT_EQ(*planted == 0 ? 1 : 0, CompleteWithCancel());
    EXPECT_EQ(*planted == 0 ? 3u : 2u, boxes.boxes.size());
    EXPECT_TRUE(PathExists(plant));
  }
}

// C:\Talvorn made beforehand as a link to another folder, and the old copy
// as another name of some other file or as a link to one.
TEST_F(CompletionTest, TheBasicInstallNeverWritesThroughALink) {
  WriteBytes(tempDirectory + L"\\Talvorn Server.exe", "new");
  std::wstring elsewhere = scratch / L"elsewhere";
  CreateDirectoryW(elsewhere.c_str(), nullptr);
  ASSERT_TRUE(MakeUnixLink(L"C:\\Talvorn", elsewhere));
  boxes.QueueAnswer(IDOK);
  EXPECT_EQ(0, BasicInstall(tempDirectory.c_str()));
  ASSERT_EQ(2u, boxes.boxes.size());
  EXPECT_EQ(L"Error creating directory C:\\Talvorn\\ 4395", boxes.boxes[1].text);
  EXPECT_FALSE(PathExists(elsewhere + L"\\Talvorn Server.exe"));
  RemoveTree(L"C:\\Talvorn");
  EXPECT_TRUE(PathExists(elsewhere));

  std::wstring other = scratch / L"other.exe";
  WriteBytes(other, "other");
  CreateDirectoryW(L"C:\\Talvorn", nullptr);
  ASSERT_TRUE(CreateHardLinkW(L"C:\\Talvorn\\Talvorn Server.exe", other.c_str(),
                              nullptr));
  boxes.boxes.clear();
  boxes.QueueAnswer(IDOK);
  EXPECT_EQ(1, BasicInstall(tempDirectory.c_str()));
  EXPECT_EQ(1u, boxes.boxes.size());
  EXPECT_EQ("new", ReadBytes(L"C:\\Talvorn\\Talvorn Server.exe"));
  EXPECT_EQ("other", ReadBytes(other));

  ReleaseInstallFolder();
  RemoveTree(L"C:\\Talvorn");
  CreateDirectoryW(L"C:\\Talvorn", nullptr);
  ASSERT_TRUE(MakeUnixLink(L"C:\\Talvorn\\Talvorn Server.exe", other));
  boxes.boxes.clear();
  boxes.QueueAnswer(IDOK);
  EXPECT_EQ(1, BasicInstall(tempDirectory.c_str()));
  ASSERT_EQ(2u, boxes.boxes.size());
  EXPECT_EQ(L"Error copying application C:\\Talvorn\\Talvorn Server.exe 4395",
            boxes.boxes[1].text);
  EXPECT_EQ("other", ReadBytes(other));
  RemoveUnixLink(L"C:\\Talvorn\\Talvorn Server.exe");
}

TEST_F(CompletionTest, ARegisteredFolderWithoutTheApplicationEndsTheSearch) {
  std::wstring registered = scratch / L"registered";
  CreateDirectoryW(registered.c_str(), nullptr);
  SetInstPath(registered);
  Install(L"C:\\Talvorn");
  EXPECT_EQ(0, CompleteWithCancel());
  EXPECT_FALSE(Chosen(L"C:\\Talvorn"));
}

TEST_F(CompletionTest, WithNoApplicationAnywhereNothingIsAsked) {
  WriteHandOff(L"");
  EXPECT_EQ(0, CompleteWithCancel());
  ASSERT_EQ(1u, boxes.boxes.size());
  EXPECT_EQ(L"ReadFileContents empty", boxes.boxes[0].text);
}

TEST_F(CompletionTest, DecliningTheBasicInstallTouchesNothing) {
  WriteBytes(tempDirectory + L"\\Talvorn Server.exe", "new");
  boxes.QueueAnswer(IDCANCEL);
  EXPECT_EQ(0, BasicInstall(tempDirectory.c_str()));
  ASSERT_EQ(1u, boxes.boxes.size());
  EXPECT_EQ(L"Basic install", boxes.boxes[0].caption);
  EXPECT_EQ(
      L"There appeared to be a problem installing. If it didn't install, do "
      L"you want to do a basic install?",
      boxes.boxes[0].text);
  EXPECT_EQ(UINT(MB_OKCANCEL | MB_ICONQUESTION), boxes.boxes[0].flags);
  EXPECT_FALSE(PathExists(L"C:\\Talvorn"));
  EXPECT_EQ(L"Do basic install",
            ReadLogLines(scratch / L"TLExtractorLog.txt").back());
}

TEST_F(CompletionTest, TheBasicInstallCopiesOnlyTheApplicationOverAnOldCopy) {
  WriteBytes(tempDirectory + L"\\Talvorn Server.exe", "new");
  WriteBytes(tempDirectory + L"\\Launcher.exe", "launcher");
  Install(L"C:\\Talvorn");
  DeleteFileW(L"C:\\Talvorn\\Launcher.exe");
  EXPECT_EQ(1, BasicInstall(tempDirectory.c_str()));
  EXPECT_EQ("new", ReadBytes(L"C:\\Talvorn\\Talvorn Server.exe"));
  EXPECT_FALSE(PathExists(L"C:\\Talvorn\\Launcher.exe"));
  std::vector<std::wstring> lines =
      ReadLogLines(scratch / L"TLExtractorLog.txt");
  EXPECT_EQ(L"Completed basic install", lines.back());
  EXPECT_EQ(L"Do basic install", lines[lines.size() - 2]);
}

TEST_F(CompletionTest, AFailedCopyIsReportedAndStillCountsAsAttempted) {
  EXPECT_EQ(1, BasicInstall(tempDirectory.c_str()));
  ASSERT_EQ(2u, boxes.boxes.size());
  EXPECT_EQ(L"Error copying application C:\\Talvorn\\Talvorn Server.exe 2",
            boxes.boxes[1].text);
  EXPECT_EQ(UINT(MB_OK | MB_ICONERROR), boxes.boxes[1].flags);
  EXPECT_TRUE(PathExists(L"C:\\Talvorn"));
  EXPECT_EQ(1, errorShown);
  EXPECT_EQ(L"Completed basic install",
            ReadLogLines(scratch / L"TLExtractorLog.txt").back());
}

}  // namespace
