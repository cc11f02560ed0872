// Finding the installed application, asking, and starting it: elevated, or
// as the signed-in user, by where it lies and who could have put it there.
#include "tests/completion_support.h"

#include <algorithm>

#include "support/file_entry.h"
#include "support/process_level.h"

namespace {

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

// C:\Talvorn is searched only as itself: made a link to another folder by
// someone else (a junction to \RPC Control would lead the launcher's
// deletion anywhere), with no basic install before, it holds no installed
// application, whatever the answer would have been. Nothing is asked,
// nothing there started or deleted, and one line says why.
TEST_F(CompletionTest, AFixedFolderThatIsALinkHoldsNoApplication) {
  std::wstring elsewhere = scratch / L"elsewhere";
  InstallPrograms(elsewhere);
  ASSERT_TRUE(MakeUnixLink(L"C:\\Talvorn", elsewhere));
  const std::wstring why = L"C:\\Talvorn\\ is not used: it is a link";
  long runs = 0;
  for (int answer : {IDOK, IDCANCEL}) {
    SCOPED_TRACE(answer);
    ReleaseInstallFolder();
    boxes.boxes.clear();
    boxes.QueueAnswer(IDOK);  // the missing hand-off file's box
    boxes.QueueAnswer(answer);
    EXPECT_EQ(0, CompleteInstall(tmp));
    EXPECT_EQ(std::vector<std::wstring>{L"Error"}, Captions());
    EXPECT_FALSE(Chosen(elsewhere));
    EXPECT_EQ(std::vector<DWORD>{}, StartedParents());
    std::vector<std::wstring> lines = ReadLogLines(scratch / L"TLExtractorLog.txt");
    EXPECT_EQ(why, lines.back());
    EXPECT_EQ(++runs, std::count(lines.begin(), lines.end(), why));  // one a run
  }
  RemoveUnixLink(L"C:\\Talvorn");
}

// Whatever the search finds is started, but elevated only where nobody but
// administrators could have put or changed the application, its launcher or
// anything beside them (a library loads from there too); from anywhere else
// as the signed-in user, as the child of the desktop shell's process, which
// gives it the shell's token with no service needed, and with a line saying
// so. A start that fails, or a shell that runs as a service account, starts
// nothing and says why. Wine reads every file back as its Unix user's: an
// administrators' copy comes from the judge's seam.
TEST_F(CompletionTest, OnlyWhatAdministratorsControlStartsElevated) {
  static std::wstring owner;
  static const wchar_t* usersFile;  // owned by a user, whoever owns the rest
  const seams::EntrySecurityFn ownedBy = [](HANDLE entry) -> PSECURITY_DESCRIPTOR {
    wchar_t path[MAX_PATH] = {};
    GetFinalPathNameByHandleW(entry, path, MAX_PATH, 0);
    bool users = usersFile != nullptr && wcsstr(path, usersFile) != nullptr;
    return SecurityOf((L"O:" + (users ? L"S-1-5-21-1-2-3-1001" : owner) +
                       L"D:(A;;FA;;;SY)(A;;FA;;;BA)(A;;0x1200a9;;;OW)").c_str());
  };
  const seams::ProcessUserFn asSystem = [](HANDLE, PSID sid, DWORD size) -> bool {
    return CreateWellKnownSid(WinLocalSystemSid, nullptr, sid, &size) != FALSE;
  };
  const std::wstring kUser = L"S-1-5-21-1-2-3-1001";
  const std::wstring asUser = L"\" as the signed-in user: others can change it or "
                              L"what lies beside it";
  const std::wstring launcher = ProgramFilesInstall() + L"\\Launcher.exe";
  enum Parent { kThisProcess, kShell, kNone };
  const struct {
    const wchar_t* what;
    std::wstring owner;     // of every entry, through the seam; empty: Wine's
    const wchar_t* planted; // in C:\Talvorn after this run's basic install
    std::wstring line;      // the log's last line, when not elevated
    Parent parent;          // of what started
    bool shellIsSystem = false;
    const wchar_t* beside = nullptr;  // a user's file beside the application
    const wchar_t* linked = nullptr;  // a name made a link to a copy elsewhere
  } cases[] = {
      {L"Program Files, administrators'", L"BA", nullptr, L"", kThisProcess},
      {L"Program Files, administrators', a user's library beside it", L"BA", nullptr,
       L"Started \"" + launcher + asUser, kShell, false, L"helper.dll"},
      {L"Program Files, administrators', the application a link", L"BA", nullptr,
       L"Started \"" + launcher + asUser, kShell, false, nullptr, L"Talvorn Server.exe"},
      {L"Program Files, administrators', the launcher a link", L"BA", nullptr,
       launcher + L" is not used: it leads elsewhere", kThisProcess, false, nullptr,
       L"Launcher.exe"},
      {L"Program Files, a user's, with an OWNER RIGHTS ACE", kUser, nullptr,
       L"Started \"" + launcher + asUser, kShell},
      {L"Program Files, as Wine shows it", L"", nullptr,
       L"Started \"" + launcher + asUser, kShell},
      {L"the shell a service account's", L"", nullptr,
       L"Not started \"" + launcher + L"\": others can change it or what lies beside "
       L"it, and the desktop shell's token cannot be had",
       kNone, true},
      {L"a launcher that is no program", L"", L"",
       L"Could not start \"" + launcher + L"\": error 193", kNone},
      {L"this run's own copy", L"", L"", L"", kThisProcess},
      {L"a launcher beside it", L"", L"Launcher.exe",
       L"Started \"C:\\Talvorn\\Launcher.exe" + asUser, kShell},
      {L"a library beside it", L"", L"version.dll",
       L"Started \"C:\\Talvorn\\Talvorn Server.exe" + asUser, kShell},
  };
  WriteProgram(tempDirectory + L"\\Talvorn Server.exe", L"Talvorn Server.exe");
  DWORD shell = ShellProcess();
  ASSERT_NE(0u, shell);
  for (const auto& c : cases) {
    SCOPED_TRACE(Narrow(c.what));
    ClearInstallLocations();
    ReleaseInstallFolder();
    owner = c.owner;
    seams::entrySecurity = c.owner.empty() ? ReadEntrySecurity : ownedBy;
    seams::processUser = c.shellIsSystem ? asSystem : ReadProcessUser;
    usersFile = c.beside;
    bool noProgram = c.line.find(L"error 193") != std::wstring::npos;
    if (c.planted == nullptr || noProgram) {
      InstallPrograms(ProgramFilesInstall());
      if (noProgram) WriteBytes(launcher, "no program");
      if (c.beside != nullptr) {
        WriteBytes(ProgramFilesInstall() + L"\\" + c.beside, "a user's");
      }
      if (c.linked != nullptr) {
        InstallPrograms(scratch / L"elsewhere");
        std::wstring name = ProgramFilesInstall() + L"\\" + c.linked;
        DeleteFileW(name.c_str());
        ASSERT_TRUE(MakeUnixLink(name, scratch / L"elsewhere" + L"\\" + c.linked));
      }
    } else {
      boxes.QueueAnswer(IDOK);
      ASSERT_EQ(1, BasicInstall(tmp));
      if (*c.planted != 0) {
        WriteProgram(std::wstring(L"C:\\Talvorn\\") + c.planted, L"Launcher.exe");
      }
    }
    boxes.QueueAnswer(IDOK);
    EXPECT_EQ(1, CompleteInstall(tmp));
    seams::processUser = ReadProcessUser;
    std::vector<std::wstring> after = ReadLogLines(scratch / L"TLExtractorLog.txt");
    if (c.line.empty()) {
      // Started elevated: the last line is completion's own (the missing
      // hand-off file, reported).
      EXPECT_EQ(0u, after.back().find(L"Could not open file")) << Narrow(after.back());
    } else {
      EXPECT_EQ(c.line, after.back());
    }
    std::vector<DWORD> parents = StartedParents(c.parent == kNone ? 0 : 1);
    if (c.linked != nullptr) {
      // What a link leads to is never deleted, and a launcher that is one
      // never started.
      EXPECT_TRUE(PathExists(scratch / L"elsewhere" + L"\\" + c.linked));
      if (c.linked == std::wstring(kLauncherName)) {
        EXPECT_EQ(std::string::npos, started.find("prog=Launcher.exe"));
      }
      RemoveUnixLink(ProgramFilesInstall() + L"\\" + c.linked);
    }
    if (c.parent == kNone) {
      EXPECT_TRUE(parents.empty());
    } else {
      EXPECT_EQ(std::vector<DWORD>{c.parent == kShell ? shell : GetCurrentProcessId()},
                parents);
    }
  }
}

// C:\Talvorn is known by what it is, not by how it is named. An old version's
// folder, protected by this run but open to others before, is not trusted
// this run (a handle from before keeps its rights), although it and what is
// put in it read as administrators' by then: named by the registry in another
// spelling, or through a link, it starts nothing elevated.
TEST_F(CompletionTest, TheDistrustedFolderIsKnownHoweverItIsNamed) {
  static bool protectedNow;
  protectedNow = false;
  seams::entrySecurity = [](HANDLE) {
    return protectedNow ? ProtectedSecurity() : OldVersionsSecurity();
  };
  CreateDirectoryW(L"C:\\Talvorn", nullptr);
  ASSERT_EQ(0u, PrepareInstallFolder());
  protectedNow = true;
  WriteProgram(L"C:\\Talvorn\\Talvorn Server.exe", L"Talvorn Server.exe");
  std::wstring via = scratch / L"via";
  ASSERT_TRUE(MakeUnixLink(via, L"C:\\Talvorn"));
  for (const std::wstring& named : {std::wstring(L"C:/Talvorn/"), via}) {
    SCOPED_TRACE(Narrow(named));
    SetInstPath(named);
    boxes.QueueAnswer(IDOK);
    EXPECT_EQ(1, CompleteInstall(tmp));
    EXPECT_EQ(L"Started \"C:\\Talvorn\\Talvorn Server.exe\" as the signed-in user: "
              L"others can change it or what lies beside it",
              ReadLogLines(scratch / L"TLExtractorLog.txt").back());
    EXPECT_EQ(std::vector<DWORD>{ShellProcess()}, StartedParents(1));
  }
  seams::entrySecurity = ReadEntrySecurity;
  RemoveUnixLink(via);
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

}  // namespace
