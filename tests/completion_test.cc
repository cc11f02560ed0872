// Finding the installed application and the basic install, against the real
// registry and folders of the Wine prefix (HKLM\Software\Talvorn, the program
// files folder, C:\Talvorn); each test starts and ends with them cleared.
#include "completion/basic_install.h"
#include "completion/complete_install.h"
#include "completion/install_folder.h"

#include <sddl.h>

#include <functional>

#include "support/errors.h"
#include "support/file_entry.h"
#include "support/file_util.h"
#include "support/log.h"
#include "support/seams.h"
#include "tests/test_support.h"

namespace {

// Every open the run makes, seen first by the test: a status to answer
// with, or 0 to let it through.
struct Open {
  std::wstring name;
  HANDLE root;
  ACCESS_MASK access;
  ULONG sharing, disposition;
};
std::function<NTSTATUS(const Open&)> onOpen;
seams::CreateFileFn realCreateFile = nullptr;

NTSTATUS NTAPI SpyCreateFile(PHANDLE handle, ACCESS_MASK access,
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

TEST_F(CompletionTest, ProgramFilesComesBeforeTheFixedFolder) {
  Install(L"C:\\Talvorn");
  Install(ProgramFilesInstall());
  EXPECT_EQ(1, CompleteWithCancel());
  EXPECT_TRUE(Chosen(ProgramFilesInstall()));
  EXPECT_FALSE(Chosen(L"C:\\Talvorn"));
  RemoveTree(ProgramFilesInstall());
  EXPECT_EQ(1, CompleteWithCancel());
  EXPECT_TRUE(Chosen(L"C:\\Talvorn"));
  EXPECT_EQ((std::vector<std::wstring>{L"Error", L"Complete", L"Error", L"Complete"}),
            Captions());
}

// Whatever the search finds is started, but elevated only where nobody but
// administrators could have put or changed the application, its launcher or
// anything beside them (a library loads from there too); from anywhere else
// as the signed-in user, with a line saying so. Wine reads every file back as
// its Unix user's: an administrators' copy comes from the judge's seam.
TEST_F(CompletionTest, OnlyWhatAdministratorsControlStartsElevated) {
  static std::wstring owner;
  seams::entrySecurity = [](HANDLE) -> PSECURITY_DESCRIPTOR {
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    ConvertStringSecurityDescriptorToSecurityDescriptorW(
        (L"O:" + owner + L"D:(A;;FA;;;SY)(A;;FA;;;BA)(A;;0x1200a9;;;OW)").c_str(),
        SDDL_REVISION_1, &descriptor, nullptr);
    return descriptor;
  };
  const std::wstring kUser = L"S-1-5-21-1-2-3-1001";
  const std::wstring asUser = L"\" as the signed-in user: others can change it or "
                              L"what lies beside it";
  const std::wstring launcher = ProgramFilesInstall() + L"\\Launcher.exe";
  const struct {
    const wchar_t* what;
    std::wstring owner;     // of every entry, through the seam; empty: Wine's
    const wchar_t* planted; // in C:\Talvorn after this run's basic install
    std::wstring line;      // the log's last line, when not elevated
  } cases[] = {
      {L"Program Files, administrators'", L"BA", nullptr, L""},
      {L"Program Files, a user's, with an OWNER RIGHTS ACE", kUser, nullptr,
       L"Started \"" + launcher + asUser},
      {L"Program Files, as Wine shows it", L"", nullptr,
       L"Started \"" + launcher + asUser},
      {L"this run's own copy", L"", L"", L""},
      {L"a launcher beside it", L"", L"Launcher.exe",
       L"Started \"C:\\Talvorn\\Launcher.exe" + asUser},
      {L"a library beside it", L"", L"version.dll",
       L"Started \"C:\\Talvorn\\Talvorn Server.exe" + asUser},
  };
  WriteBytes(tempDirectory + L"\\Talvorn Server.exe", "new");
  for (const auto& c : cases) {
    SCOPED_TRACE(Narrow(c.what));
    ClearInstallLocations();
    ReleaseInstallFolder();
    owner = c.owner;
    if (c.owner.empty()) seams::entrySecurity = ReadEntrySecurity;
    if (c.planted == nullptr) {
      Install(ProgramFilesInstall());
    } else {
      boxes.QueueAnswer(IDOK);
      ASSERT_EQ(1, BasicInstall(tmp));
      if (*c.planted != 0) WriteBytes(std::wstring(L"C:\\Talvorn\\") + c.planted, "planted");
    }
    boxes.QueueAnswer(IDOK);
    EXPECT_EQ(1, CompleteInstall(tmp));
    std::vector<std::wstring> after = ReadLogLines(scratch / L"TLExtractorLog.txt");
    if (c.line.empty()) {
      // Started elevated: the last line is completion's own (the missing
      // hand-off file, reported).
      EXPECT_EQ(0u, after.back().find(L"Could not open file")) << Narrow(after.back());
    } else {
      EXPECT_EQ(c.line, after.back());
    }
  }
  seams::entrySecurity = ReadEntrySecurity;
}

// A C:\Talvorn left by an earlier version inherits from C:\ that
// Authenticated Users may modify it. The basic install protects it and
// replaces the old copy with a new file, but a program that opened the folder
// before keeps its rights: this run still offers the launch, and starts the
// application as the signed-in user.
TEST_F(CompletionTest, AnOldVersionsFolderIsProtectedAndTheLaunchOffered) {
  seams::entrySecurity = [](HANDLE) -> PSECURITY_DESCRIPTOR {
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    ConvertStringSecurityDescriptorToSecurityDescriptorW(
        L"O:BAD:(A;;FA;;;SY)(A;;FA;;;BA)(A;OICIID;0x1301bf;;;AU)", SDDL_REVISION_1,
        &descriptor, nullptr);
    return descriptor;
  };
  CreateDirectoryW(L"C:\\Talvorn", nullptr);
  WriteBytes(L"C:\\Talvorn\\Talvorn Server.exe", "old");
  WriteBytes(tempDirectory + L"\\Talvorn Server.exe", "new");
  boxes.QueueAnswer(IDOK);
  EXPECT_EQ(1, BasicInstall(tmp));
  boxes.QueueAnswer(IDOK);
  EXPECT_EQ(1, CompleteInstall(tmp));
  seams::entrySecurity = ReadEntrySecurity;
  EXPECT_EQ((std::vector<std::wstring>{L"Basic install", L"Error", L"Complete"}),
            Captions());
  EXPECT_EQ("new", ReadBytes(L"C:\\Talvorn\\Talvorn Server.exe"));
  EXPECT_EQ(L"Started \"C:\\Talvorn\\Talvorn Server.exe\" as the signed-in user: "
            L"others can change it or what lies beside it",
            ReadLogLines(scratch / L"TLExtractorLog.txt").back());
}

// The copy is written through the folder this run holds, never by its name:
// turned into a link once protected (a handle opened before keeps its
// rights), the folder gets the copy no further.
TEST_F(CompletionTest, TheCopyGoesThroughTheHeldFolderNeverItsName) {
  WriteBytes(tempDirectory + L"\\Talvorn Server.exe", "new");
  std::wstring victim = scratch / L"victim";
  CreateDirectoryW(victim.c_str(), nullptr);
  ASSERT_EQ(0u, PrepareInstallFolder());
  ASSERT_TRUE(ReplaceWithUnixLink(L"C:\\Talvorn", victim));
  CopyApplicationFile(tmp, kFixedInstallFolder, kApplicationName);
  EXPECT_FALSE(PathExists(victim + L"\\Talvorn Server.exe"));
  ASSERT_EQ(1u, boxes.boxes.size());
  EXPECT_EQ(0u, boxes.boxes[0].text.find(L"Error copying application "
                                         L"C:\\Talvorn\\Talvorn Server.exe "));
  RemoveUnixLink(L"C:\\Talvorn");
}

// A scanner that holds the new copy for a moment, as antivirus does, is
// waited for; one that holds it on is another program's.
TEST_F(CompletionTest, ACopyHeldForAMomentIsWaitedFor) {
  int refusals = 0;
  // Every open of the copy for reading only, in C:\Talvorn: the re-open.
  OpenSpy spy([&](const Open& open) -> NTSTATUS {
    if (open.name == L"Talvorn Server.exe" && open.access == (GENERIC_READ | SYNCHRONIZE) &&
        open.sharing == FILE_SHARE_READ && open.disposition == FILE_OPEN &&
        open.root != tmp.handle && refusals > 0) {
      --refusals;
      return static_cast<NTSTATUS>(0xC0000043);  // a sharing violation
    }
    return 0;
  });
  WriteBytes(tempDirectory + L"\\Talvorn Server.exe", "new");
  for (int times : {2, 1000}) {
    SCOPED_TRACE(times);
    ReleaseInstallFolder();
    RemoveTree(L"C:\\Talvorn");
    boxes.boxes.clear();
    clock.sleeps.clear();
    refusals = times;
    boxes.QueueAnswer(IDOK);
    EXPECT_EQ(1, BasicInstall(tmp));
    if (times == 2) {
      EXPECT_EQ(std::vector<std::wstring>{L"Basic install"}, Captions());
      EXPECT_EQ((std::vector<DWORD>{100, 100}), clock.sleeps);
      EXPECT_TRUE(InstallFolderHolds(L"C:\\Talvorn\\Talvorn Server.exe"));
    } else {
      EXPECT_EQ((std::vector<std::wstring>{L"Basic install", L"Error"}), Captions());
      EXPECT_EQ(L"Error copying application C:\\Talvorn\\Talvorn Server.exe 32",
                boxes.boxes.back().text);
      EXPECT_EQ(20u, clock.sleeps.size());  // two seconds
    }
  }
}

// Not elevated (here: a thread that acts with a standard user's token), the
// run takes an existing C:\Talvorn as it is: it asks for no right to change
// its permissions or owner, which it would not get, and copies as always.
TEST_F(CompletionTest, ARunThatIsNotElevatedCopiesIntoAnExistingFolder) {
  std::vector<ACCESS_MASK> folderAccess;
  OpenSpy spy([&](const Open& open) -> NTSTATUS {
    const std::wstring folder = L"C:\\Talvorn";
    if (open.name.size() >= folder.size() &&
        open.name.compare(open.name.size() - folder.size(), folder.size(), folder) == 0) {
      folderAccess.push_back(open.access);
    }
    return 0;
  });
  CreateDirectoryW(L"C:\\Talvorn", nullptr);
  WriteBytes(L"C:\\Talvorn\\Talvorn Server.exe", "old");
  WriteBytes(tempDirectory + L"\\Talvorn Server.exe", "new");
  ASSERT_TRUE(ActAsStandardUser());
  boxes.QueueAnswer(IDOK);
  EXPECT_EQ(1, BasicInstall(tmp));
  RevertToSelf();
  EXPECT_EQ(std::vector<std::wstring>{L"Basic install"}, Captions());
  EXPECT_EQ("new", ReadBytes(L"C:\\Talvorn\\Talvorn Server.exe"));
  ASSERT_FALSE(folderAccess.empty());
  for (ACCESS_MASK access : folderAccess) {
    EXPECT_EQ(0u, access & (WRITE_DAC | WRITE_OWNER));
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
  EXPECT_EQ(0, BasicInstall(tmp));
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
  EXPECT_EQ(1, BasicInstall(tmp));
  EXPECT_EQ(1u, boxes.boxes.size());
  EXPECT_EQ("new", ReadBytes(L"C:\\Talvorn\\Talvorn Server.exe"));
  EXPECT_EQ("other", ReadBytes(other));

  ReleaseInstallFolder();
  RemoveTree(L"C:\\Talvorn");
  CreateDirectoryW(L"C:\\Talvorn", nullptr);
  ASSERT_TRUE(MakeUnixLink(L"C:\\Talvorn\\Talvorn Server.exe", other));
  boxes.boxes.clear();
  boxes.QueueAnswer(IDOK);
  EXPECT_EQ(1, BasicInstall(tmp));
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
  EXPECT_EQ(0, BasicInstall(tmp));
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
  EXPECT_EQ(1, BasicInstall(tmp));
  EXPECT_EQ("new", ReadBytes(L"C:\\Talvorn\\Talvorn Server.exe"));
  EXPECT_FALSE(PathExists(L"C:\\Talvorn\\Launcher.exe"));
  std::vector<std::wstring> lines =
      ReadLogLines(scratch / L"TLExtractorLog.txt");
  EXPECT_EQ(L"Completed basic install", lines.back());
  EXPECT_EQ(L"Do basic install", lines[lines.size() - 2]);
}

TEST_F(CompletionTest, AFailedCopyIsReportedAndStillCountsAsAttempted) {
  EXPECT_EQ(1, BasicInstall(tmp));
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
