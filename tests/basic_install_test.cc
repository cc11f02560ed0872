// The basic install into C:\Talvorn: made or brought under protection,
// never written through a link or by name, and what that means for the
// launch that follows.
#include "tests/completion_support.h"

#include <winternl.h>

#include <algorithm>
#include <functional>

#include "support/errors.h"
#include "support/file_entry.h"
#include "support/ntdll.h"

namespace {

// Every open the run makes, seen first by the test: a status to answer
// with, or 0 to let it through.
struct Open {
  std::wstring name;
  HANDLE root;
  ACCESS_MASK access;
  ULONG sharing, disposition, options;
};
std::function<NTSTATUS(const Open&)> onOpen;
seams::CreateFileFn realCreateFile = nullptr;

NTSTATUS NTAPI SpyCreateFile(PHANDLE handle, ACCESS_MASK access,
                             POBJECT_ATTRIBUTES object, PIO_STATUS_BLOCK status,
                             PLARGE_INTEGER size, ULONG attributes, ULONG sharing,
                             ULONG disposition, ULONG options, PVOID ea, ULONG eaSize) {
  Open open{std::wstring(object->ObjectName->Buffer,
                         object->ObjectName->Length / sizeof(wchar_t)),
            object->RootDirectory, access, sharing, disposition, options};
  NTSTATUS answer = onOpen ? onOpen(open) : 0;
  if (answer != 0) return answer;
  return realCreateFile(handle, access, object, status, size, attributes, sharing,
                        disposition, options, ea, eaSize);
}

// Puts the spy between the run and NtCreateFile while alive.
struct OpenSpy {
  explicit OpenSpy(std::function<NTSTATUS(const Open&)> decide) {
    realCreateFile = NtdllCall<seams::CreateFileFn>("NtCreateFile");
    onOpen = std::move(decide);
    seams::createFile = SpyCreateFile;
  }
  ~OpenSpy() {
    seams::createFile = realCreateFile;
    onOpen = nullptr;
  }
};

// Whether the run holds its copy in C:\Talvorn: nobody may write to it then.
bool CopyHeld() {
  HANDLE file = CreateFileW(L"C:\\Talvorn\\Talvorn Server.exe", GENERIC_WRITE,
                            kShareAll, nullptr, OPEN_EXISTING, 0, nullptr);
  DWORD error = GetLastError();
  if (file != INVALID_HANDLE_VALUE) CloseHandle(file);
  return file == INVALID_HANDLE_VALUE && error == ERROR_SHARING_VIOLATION;
}

// A C:\Talvorn left by an earlier version, open to others. The basic install
// protects the folder itself and replaces what is in it rather than
// re-permissioning it: each old entry goes, as itself (a link as the link,
// never followed), and the copy is made afresh. A program that opened the
// folder before keeps its rights, so this run still offers the launch and
// starts the application as the signed-in user. Every open it makes is of
// the entry itself, never through a link at its end (Wine follows links
// either way, so the spy tells).
TEST_F(CompletionTest, AnOldVersionsFolderIsProtectedAndTheLaunchOffered) {
  std::vector<Open> opens;
  bool installing = false;
  OpenSpy spy([&](const Open& open) -> NTSTATUS {
    if (installing) opens.push_back(open);
    return 0;
  });
  seams::entrySecurity = [](HANDLE) { return OldVersionsSecurity(); };
  CreateDirectoryW(L"C:\\Talvorn", nullptr);
  WriteBytes(L"C:\\Talvorn\\Talvorn Server.exe", "old");
  WriteBytes(L"C:\\Talvorn\\version.dll", "planted");
  WriteBytes(L"C:\\Talvorn\\read-only.txt", "old");
  SetFileAttributesW(L"C:\\Talvorn\\read-only.txt", FILE_ATTRIBUTE_READONLY);
  CreateDirectoryW(L"C:\\Talvorn\\Plugins", nullptr);
  CreateDirectoryW(L"C:\\Talvorn\\Plugins\\Deeper", nullptr);
  WriteBytes(L"C:\\Talvorn\\Plugins\\Deeper\\plugin.dll", "planted");
  // Links to a folder and to a file of someone else's. Wine cannot remove
  // either through Win32 (it opens the target): they stay, and are logged.
  std::wstring elsewhere = scratch / L"elsewhere";
  CreateDirectoryW(elsewhere.c_str(), nullptr);
  WriteBytes(elsewhere + L"\\keep.txt", "keep");
  ASSERT_TRUE(MakeUnixLink(L"C:\\Talvorn\\Folder link", elsewhere));
  ASSERT_TRUE(MakeUnixLink(L"C:\\Talvorn\\file link.dll", elsewhere + L"\\keep.txt"));
  // A real program, which the launch starts.
  WriteProgram(tempDirectory + L"\\Talvorn Server.exe", L"Talvorn Server.exe");
  boxes.QueueAnswer(IDOK);
  installing = true;
  EXPECT_EQ(1, BasicInstall(tmp));
  installing = false;
  EXPECT_FALSE(InstallFolderTrusted());
  boxes.QueueAnswer(IDOK);
  EXPECT_EQ(1, CompleteInstall(tmp));
  seams::entrySecurity = ReadEntrySecurity;
  EXPECT_EQ((std::vector<std::wstring>{L"Basic install", L"Error", L"Complete"}),
            Captions());
  EXPECT_EQ(ReadBytes(tempDirectory + L"\\Talvorn Server.exe"),
            ReadBytes(L"C:\\Talvorn\\Talvorn Server.exe"));
  for (const wchar_t* gone : {L"version.dll", L"read-only.txt", L"Plugins"}) {
    EXPECT_FALSE(PathExists(std::wstring(L"C:\\Talvorn\\") + gone)) << Narrow(gone);
  }
  EXPECT_EQ("keep", ReadBytes(elsewhere + L"\\keep.txt"));
  std::vector<std::wstring> lines = ReadLogLines(scratch / L"TLExtractorLog.txt");
  for (const wchar_t* link : {L"Folder link", L"file link.dll"}) {
    EXPECT_NE(lines.end(),
              std::find(lines.begin(), lines.end(),
                        std::wstring(L"C:\\Talvorn\\") + link +
                            L" could not be removed: error 4395"))
        << Narrow(link);
  }
  EXPECT_EQ(L"Started \"C:\\Talvorn\\Talvorn Server.exe\" as the signed-in user: "
            L"others can change it or what lies beside it",
            lines.back());
  ASSERT_FALSE(opens.empty());
  std::vector<std::wstring> followed;
  for (const Open& open : opens) {
    if ((open.options & FILE_OPEN_REPARSE_POINT) == 0) followed.push_back(open.name);
  }
  EXPECT_EQ(std::vector<std::wstring>{}, followed);
  RemoveUnixLink(L"C:\\Talvorn\\file link.dll");
}

// An old entry that another program holds cannot go: it is logged and keeps
// its old DACL, so the folder is not trusted in the next run either, where the
// folder itself and the rest read as administrators' (as on Windows after the
// protection; Wine keeps no DACL).
TEST_F(CompletionTest, AnOldEntryHeldByAnotherProgramKeepsTheFolderDistrusted) {
  static bool protectedBefore;
  protectedBefore = false;
  seams::entrySecurity = [](HANDLE entry) -> PSECURITY_DESCRIPTOR {
    wchar_t path[MAX_PATH] = {};
    GetFinalPathNameByHandleW(entry, path, MAX_PATH, 0);
    std::wstring name(path);
    bool held = name.size() > 9 && name.substr(name.size() - 9) == L"\\held.dll";
    return !protectedBefore || held ? OldVersionsSecurity() : ProtectedSecurity();
  };
  CreateDirectoryW(L"C:\\Talvorn", nullptr);
  WriteBytes(L"C:\\Talvorn\\held.dll", "old");
  HANDLE held = CreateFileW(L"C:\\Talvorn\\held.dll", GENERIC_READ, FILE_SHARE_READ,
                            nullptr, OPEN_EXISTING, 0, nullptr);
  ASSERT_NE(INVALID_HANDLE_VALUE, held);
  WriteBytes(tempDirectory + L"\\Talvorn Server.exe", "new");
  boxes.QueueAnswer(IDOK);
  EXPECT_EQ(1, BasicInstall(tmp));
  EXPECT_EQ(std::vector<std::wstring>{L"Basic install"}, Captions());
  std::vector<std::wstring> lines = ReadLogLines(scratch / L"TLExtractorLog.txt");
  EXPECT_NE(lines.end(), std::find(lines.begin(), lines.end(),
                                   L"C:\\Talvorn\\held.dll could not be removed: error 32"));
  EXPECT_FALSE(InstallFolderTrusted());
  // The next run.
  ReleaseInstallFolder();
  protectedBefore = true;
  EXPECT_FALSE(InstallFolderTrusted());
  CloseHandle(held);
  DeleteFileW(L"C:\\Talvorn\\held.dll");
  ReleaseInstallFolder();
  EXPECT_TRUE(InstallFolderTrusted());  // it was that entry alone
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
  ReleaseInstallFolder();

  // And the copy held is the very file written: another put in its place
  // before the re-open is refused.
  RemoveTree(L"C:\\Talvorn");
  OpenSpy spy([&](const Open& open) -> NTSTATUS {
    if (open.name == L"Talvorn Server.exe" && open.access == (GENERIC_READ | SYNCHRONIZE) &&
        open.disposition == FILE_OPEN && open.root != tmp.handle) {
      WriteBytes(L"C:\\Talvorn\\swapped.exe", "swapped");
      MoveFileExW(L"C:\\Talvorn\\swapped.exe", L"C:\\Talvorn\\Talvorn Server.exe",
                  MOVEFILE_REPLACE_EXISTING);
    }
    return 0;
  });
  boxes.boxes.clear();
  boxes.QueueAnswer(IDOK);
  EXPECT_EQ(1, BasicInstall(tmp));
  EXPECT_EQ("swapped", ReadBytes(L"C:\\Talvorn\\Talvorn Server.exe"));
  ASSERT_EQ(2u, boxes.boxes.size());
  EXPECT_EQ(L"Error copying application C:\\Talvorn\\Talvorn Server.exe 1006",
            boxes.boxes[1].text);
  EXPECT_FALSE(CopyHeld());
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
      EXPECT_TRUE(CopyHeld());
    } else {
      EXPECT_EQ((std::vector<std::wstring>{L"Basic install", L"Error"}), Captions());
      EXPECT_EQ(L"Error copying application C:\\Talvorn\\Talvorn Server.exe 32",
                boxes.boxes.back().text);
      EXPECT_EQ(20u, clock.sleeps.size());  // two seconds
    }
  }

  // So is a listing of an existing C:\Talvorn without sharing, which Users'
  // read access allows.
  ReleaseInstallFolder();
  refusals = 0;
  boxes.boxes.clear();
  clock.sleeps.clear();
  HANDLE listing = CreateFileW(L"C:\\Talvorn", FILE_LIST_DIRECTORY, 0, nullptr,
                               OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  ASSERT_NE(INVALID_HANDLE_VALUE, listing);
  clock.onSleep = [&](DWORD) {
    if (clock.sleeps.size() == 3) CloseHandle(listing);
  };
  boxes.QueueAnswer(IDOK);
  EXPECT_EQ(1, BasicInstall(tmp));
  clock.onSleep = nullptr;
  EXPECT_EQ(std::vector<std::wstring>{L"Basic install"}, Captions());
  EXPECT_EQ((std::vector<DWORD>{100, 100, 100}), clock.sleeps);
  EXPECT_EQ("new", ReadBytes(L"C:\\Talvorn\\Talvorn Server.exe"));
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
