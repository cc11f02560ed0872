// Whole runs of the real extractor with the stand-in setup program: every
// outcome of the hand-off, completion, the basic install and the clean-up,
// checked from outside by the boxes, the programs started, disk and registry.
#include "tests/e2e/e2e_support.h"

#include <sddl.h>
#include <shlobj.h>

#include <algorithm>
#include <atomic>
#include <thread>

#include "security/folder_security.h"
#include "support/process_level.h"

namespace {

class HandoffEndToEndTest : public EndToEndTest {
 protected:
  static std::string ShellFolder(int csidl) {
    wchar_t path[MAX_PATH] = {};
    SHGetFolderPathW(nullptr, csidl, nullptr, SHGFP_TYPE_CURRENT, path);
    return Narrow(path);
  }
  // An installed copy somewhere else: the application and a launcher.
  static void InstallCopy(const std::wstring& at) {
    CreateDirectoryW(at.c_str(), nullptr);
    CopyFileW(TestkitFile(L"Talvorn Server.exe").c_str(),
              (at + L"\\Talvorn Server.exe").c_str(), FALSE);
    CopyFileW(TestkitFile(L"Launcher.exe").c_str(), (at + L"\\Launcher.exe").c_str(),
              FALSE);
  }
};

// The demo extractor as built and as signed (by the signing_fixtures test):
// a signature changes nothing in how it finds and unpacks its payload.
class WholeInstallEndToEndTest : public HandoffEndToEndTest,
                                 public ::testing::WithParamInterface<const wchar_t*> {};

TEST_P(WholeInstallEndToEndTest, AnInstallEndsWithTheApplicationStartedAndNothingLeft) {
  Outcome run = Start({GetParam(), "show,wait=300,install", {"Complete=OK"}});
  EXPECT_EQ(0u, run.exitCode);
  EXPECT_EQ(std::vector<Box>{Complete()}, run.boxes);
  // The setup program got its three folders, and System32 as its current
  // folder (the run is elevated: Wine's token holds Administrators), not
  // the user's download folder.
  std::vector<Record> setup = run.Events("InstallTalvorn.exe", "start");
  ASSERT_EQ(1u, setup.size());
  EXPECT_EQ("ok", setup[0]["format"]);
  wchar_t system[MAX_PATH];
  GetSystemDirectoryW(system, MAX_PATH);
  EXPECT_EQ(CSTR_EQUAL,
            CompareStringOrdinal(Widen(setup[0]["cwd"]).c_str(), -1, system, -1, TRUE))
      << setup[0]["cwd"];
  // Documents, programs\Talvorn and desktop, in that order, as Wine has them.
  EXPECT_EQ(ShellFolder(CSIDL_PERSONAL) + "\\", setup[0]["arg1"]);
  EXPECT_EQ(ShellFolder(CSIDL_PROGRAMS) + "\\Talvorn\\", setup[0]["arg2"]);
  EXPECT_EQ(ShellFolder(CSIDL_DESKTOPDIRECTORY) + "\\", setup[0]["arg3"]);
  // The launcher ran with the application's path in quotes, then went.
  std::vector<Record> launcher = run.Events("Launcher.exe", "start");
  ASSERT_EQ(1u, launcher.size());
  std::string app = Narrow(ProgramFilesInstall()) + "\\Talvorn Server.exe";
  EXPECT_NE(std::string::npos, launcher[0]["cmdline"].find(" \"" + app + "\""));
  EXPECT_EQ("1", launcher[0]["argc"]);
  // Started as the signed-in user: the desktop shell's child.
  DWORD shell = 0;
  GetWindowThreadProcessId(FindWindowW(L"Shell_TrayWnd", nullptr), &shell);
  if (HWND window = GetShellWindow()) GetWindowThreadProcessId(window, &shell);
  EXPECT_EQ(std::to_string(shell), launcher[0]["parent"]);
  EXPECT_EQ(1u, run.Events("Talvorn Server.exe", "start").size());
  EXPECT_FALSE(PathExists(ProgramFilesInstall() + L"\\Launcher.exe"));
  EXPECT_TRUE(PathExists(ProgramFilesInstall() + L"\\Talvorn Server.exe"));
  EXPECT_FALSE(run.tmpLeft);
  EXPECT_FALSE(run.logLeft);
  // Wine reads the installed files back as its Unix user's, so the launcher
  // starts as the signed-in user and the log says why.
  ASSERT_GE(run.log.size(), 2u);
  // The last entry's line (its compressed size is the packer's business).
  EXPECT_EQ(0u, run.log[run.log.size() - 2].find(
                    L"Unarchiving file \"" + folder +
                    L"\\tmp-1\\Talvorn\\Templates\\Shipping Labels 99.1x93.1 6up.txt\", "
                    L"zippedSize="))
      << Narrow(run.log[run.log.size() - 2]);
  EXPECT_EQ(L"Started \"" + ProgramFilesInstall() +
                L"\\Launcher.exe\" as the signed-in user: others can change it or what "
                L"lies beside it",
            run.log.back());
}

INSTANTIATE_TEST_SUITE_P(Extractors, WholeInstallEndToEndTest,
                         ::testing::Values(L"e2e_demo.exe", L"e2e_signed.exe"),
                         [](const ::testing::TestParamInfo<const wchar_t*>& info) {
                           return std::wstring(info.param) == L"e2e_signed.exe"
                                      ? std::string("Signed")
                                      : std::string("Unsigned");
                         });

// A double click: two copies a tenth of a second apart in one folder. One
// runs as always; the other ends at once with 0 and leaves no trace.
TEST_F(HandoffEndToEndTest, ASecondCopyStartedMeanwhileDoesNothing) {
  Scenario scenario{L"e2e_demo.exe", "show,wait=300,install", {"Complete=OK"}};
  scenario.againAfterMs = 100;
  Outcome run = Start(scenario);
  EXPECT_EQ(0u, run.exitCode);
  EXPECT_EQ(0, run.againExitCode);
  EXPECT_EQ(std::vector<Box>{Complete()}, run.boxes);
  EXPECT_EQ(1, std::count(run.seen.begin(), run.seen.end(), "Status"));
  EXPECT_EQ(1u, run.Events("InstallTalvorn.exe", "start").size());
  EXPECT_EQ(1u, run.Events("Talvorn Server.exe", "start").size());
  EXPECT_FALSE(PathExists(folder + L"\\tmp-2"));
  EXPECT_FALSE(run.tmpLeft);
  EXPECT_FALSE(run.logLeft);
}

// A program of a standard user takes the single-run name first, as the only
// one who may use it: a mutex owned by the token's user, open to that user
// or to nobody. Only an administrator's run can own the genuine one, so the
// extractor runs as if it were alone.
TEST_F(HandoffEndToEndTest, ASquattedSingleRunNameDoesNotStopTheRun) {
  HANDLE token = nullptr;
  ASSERT_TRUE(OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token));
  TokenUserRecord user;
  ASSERT_TRUE(ReadTokenUser(token, &user));
  CloseHandle(token);
  wchar_t* sid = nullptr;
  ASSERT_TRUE(ConvertSidToStringSidW(user.user.User.Sid, &sid));
  std::wstring standardUser = sid;
  LocalFree(sid);
  for (const std::wstring& allowed : {L"(A;;GA;;;" + standardUser + L")", std::wstring()}) {
    std::wstring descriptor = L"O:" + standardUser + L"D:P" + allowed;
    SCOPED_TRACE(Narrow(descriptor));
    SECURITY_ATTRIBUTES attributes = {sizeof attributes, nullptr, FALSE};
    ASSERT_TRUE(ConvertStringSecurityDescriptorToSecurityDescriptorW(
        descriptor.c_str(), SDDL_REVISION_1, &attributes.lpSecurityDescriptor,
        nullptr));
    HANDLE squat = CreateMutexW(&attributes, FALSE, L"Global\\TalvornExtractorRun");
    DWORD error = GetLastError();
    LocalFree(attributes.lpSecurityDescriptor);
    ASSERT_NE(nullptr, squat);
    EXPECT_EQ(0u, error);
    RemoveTree(folder);
    CreateDirectoryW(folder.c_str(), nullptr);
    ClearInstallLocations();
    Outcome run = Start({L"e2e_demo.exe", "show,wait=300,install", {"Complete=OK"}});
    CloseHandle(squat);
    EXPECT_EQ(0u, run.exitCode);
    EXPECT_EQ(std::vector<Box>{Complete()}, run.boxes);
    EXPECT_EQ(1u, run.Events("Talvorn Server.exe", "start").size());
    EXPECT_FALSE(run.tmpLeft);
    EXPECT_FALSE(run.logLeft);
  }
}

// Another program of the same user tries, from before tmp-1 exists until the
// setup program has ended, to move tmp-1 away (and back at once) and to open
// it for deletion. Held, it never gives way, and the install ends as always.
// (What is inside is closed to that program by tmp-1's DACL, which Wine does
// not enforce; the traced-server check reads the descriptor.)
TEST_F(HandoffEndToEndTest, NothingOutsideTheRunCanMoveTheTempDirectory) {
  std::wstring tmp = folder + L"\\tmp-1";
  std::wstring away = folder + L"\\moved";
  std::atomic<bool> stop{false};
  int moved = 0, openedForDelete = 0, tries = 0;
  std::thread racer([&] {
    while (!stop) {
      if (MoveFileW(tmp.c_str(), away.c_str())) {
        ++moved;
        MoveFileW(away.c_str(), tmp.c_str());
      }
      HANDLE handle = CreateFileW(tmp.c_str(), DELETE, 7, nullptr, OPEN_EXISTING,
                                  FILE_FLAG_BACKUP_SEMANTICS, nullptr);
      if (handle != INVALID_HANDLE_VALUE) {
        ++openedForDelete;
        CloseHandle(handle);
      }
      if (++tries % 20 == 0 &&
          ReadBytes(RecordFile()).find("prog=InstallTalvorn.exe\tevent=exit") !=
              std::string::npos) {
        break;
      }
      Sleep(1);
    }
  });
  Outcome run = Start({L"e2e_demo.exe", "show,wait=300,install", {"Complete=OK"}});
  stop = true;
  racer.join();
  EXPECT_EQ(0, moved);
  EXPECT_EQ(0, openedForDelete);
  EXPECT_GT(tries, 100);
  EXPECT_EQ(std::vector<Box>{Complete()}, run.boxes);
  EXPECT_EQ(1u, run.Events("Talvorn Server.exe", "start").size());
  EXPECT_FALSE(run.tmpLeft);
  EXPECT_FALSE(run.logLeft);
  EXPECT_FALSE(PathExists(away));
}

// A setup program that moves its own files where they belong (a rename needs
// delete access to the file) installs as any other: nothing it unpacked is
// held against it.
TEST_F(HandoffEndToEndTest, ASetupProgramThatMovesItsFilesInstalls) {
  Outcome run = Start({L"e2e_demo.exe",
                       "show,wait=300,installing,copy,move=Launcher.exe,registry,"
                       "handoff,wait=400",
                       {"Complete=OK"}});
  std::vector<Record> move = run.Events("InstallTalvorn.exe", "move");
  ASSERT_EQ(1u, move.size());
  EXPECT_EQ("1", move[0]["ok"]) << move[0]["error"];
  EXPECT_EQ(std::vector<Box>{Complete()}, run.boxes);
  ASSERT_EQ(1u, run.Events("Launcher.exe", "start").size());
  EXPECT_EQ(Narrow(ProgramFilesInstall()) + "\\Launcher.exe",
            run.Events("Launcher.exe", "start")[0]["module"]);
  EXPECT_EQ(1u, run.Events("Talvorn Server.exe", "start").size());
  EXPECT_FALSE(run.tmpLeft);
}

TEST_F(HandoffEndToEndTest, CancelAtTheQuestionStillRemovesTheLauncher) {
  Outcome run = Start({L"e2e_demo.exe", "show,wait=300,install", {"Complete=Cancel"}});
  EXPECT_EQ(std::vector<Box>{Complete()}, run.boxes);
  EXPECT_TRUE(run.Events("Launcher.exe", "start").empty());
  EXPECT_TRUE(run.Events("Talvorn Server.exe", "start").empty());
  EXPECT_FALSE(PathExists(ProgramFilesInstall() + L"\\Launcher.exe"));
  EXPECT_FALSE(run.tmpLeft);
}

TEST_F(HandoffEndToEndTest, ACancelledSetupEndsWithoutQuestions) {
  Outcome run = Start({L"e2e_demo.exe", "show,wait=300,cancel"});
  EXPECT_TRUE(run.boxes.empty());
  EXPECT_FALSE(run.tmpLeft);
  EXPECT_FALSE(run.logLeft);
  EXPECT_FALSE(PathExists(L"C:\\Talvorn"));
}

TEST_F(HandoffEndToEndTest, InstallingSeenThenCancelledStillCompletes) {
  // Nothing was installed: completion finds nothing, so the basic install is
  // offered; accepted, the copy in C:\Talvorn is found and started directly.
  Outcome run = Start({L"e2e_demo.exe", "show,wait=300,installing,wait=500,cancel",
                   {"Basic install=OK", "Complete=OK"}});
  EXPECT_EQ((std::vector<Box>{NoHandOff(), BasicInstall(), NoHandOff(), Complete()}),
            run.boxes);
  std::vector<Record> server = run.Events("Talvorn Server.exe", "start");
  ASSERT_EQ(1u, server.size());
  EXPECT_EQ("C:\\Talvorn\\Talvorn Server.exe", server[0]["module"]);
  EXPECT_EQ("0", server[0]["argc"]);
  EXPECT_EQ("C:\\Talvorn", server[0]["cwd"]);  // its own folder, not Downloads
  EXPECT_TRUE(run.logLeft);  // error boxes were shown
  auto basic = std::find(run.log.begin(), run.log.end(), L"Do basic install");
  ASSERT_NE(run.log.end(), basic);
  EXPECT_EQ(L"Completed basic install", *(basic + 1));
  EXPECT_FALSE(run.tmpLeft);
}

TEST_F(HandoffEndToEndTest, NoInstallingTitleAndNoMarkerOffersTheBasicInstall) {
  Outcome run = Start({L"e2e_demo.exe", "show,wait=300", {"Basic install=Cancel"}});
  EXPECT_EQ(std::vector<Box>{BasicInstall()}, run.boxes);
  EXPECT_EQ(L"Do basic install", run.log.back());
  EXPECT_FALSE(run.logLeft);
  EXPECT_FALSE(PathExists(L"C:\\Talvorn"));
}

TEST_F(HandoffEndToEndTest, ALaunchFailureIsShownThenTheBasicInstallIsOffered) {
  Outcome run = Start({L"e2e_nosetup.exe", "", {"Basic install=OK", "Complete=Cancel"}});
  EXPECT_EQ((std::vector<Box>{{"Extractor", "Error launching installer. Error=2", "OK", "none"},
                              BasicInstall(), NoHandOff(), Complete()}),
            run.boxes);
  EXPECT_TRUE(PathExists(L"C:\\Talvorn\\Talvorn Server.exe"));
  EXPECT_FALSE(run.tmpLeft);
}

// 236 units of folder leave room for short payload names in tmp-1, but not
// for tmp-1\InstallTalvorn.exe within MAX_PATH.
TEST_F(HandoffEndToEndTest, ASetupPathThatDoesNotFitIsALaunchFailure) {
  std::wstring deep = scratch.path() + L"\\";
  deep += std::wstring(236 - deep.size(), L'd');
  ASSERT_TRUE(CreateDirectoryW(deep.c_str(), nullptr));
  folder = deep;
  Outcome run = Start({L"e2e_shortnames.exe", "", {"Basic install=Cancel"}});
  EXPECT_EQ((std::vector<Box>{{"Extractor", "Error launching installer. Error=206",
                               "OK", "none"},
                              BasicInstall()}),
            run.boxes);
  EXPECT_TRUE(run.records.empty());
  EXPECT_FALSE(run.tmpLeft);
}

// With the quotes, a 258-unit application path does not fit the launcher's
// parameters: the application is started directly and the launcher removed.
TEST_F(HandoffEndToEndTest, AnApplicationTooLongForTheLauncherIsStartedDirectly) {
  std::wstring installed = L"C:\\Talvorn Long ";
  installed += std::wstring(239 - installed.size(), L'x');
  InstallCopy(installed);
  std::wstring app = installed + L"\\Talvorn Server.exe";
  ASSERT_EQ(258u, app.size());
  Scenario scenario{L"e2e_demo.exe", "show,wait=300,install", {"Complete=OK"}};
  scenario.environment[L"TALVORN_SETUP_HANDOFF_PATH"] = app;
  Outcome run = Start(scenario);
  EXPECT_EQ(std::vector<Box>{Complete()}, run.boxes);
  EXPECT_TRUE(run.Events("Launcher.exe", "start").empty());
  std::vector<Record> server = run.Events("Talvorn Server.exe", "start");
  ASSERT_EQ(1u, server.size());
  EXPECT_EQ(Narrow(app), server[0]["module"]);
  EXPECT_EQ("0", server[0]["argc"]);
  EXPECT_FALSE(PathExists(installed + L"\\Launcher.exe"));
  RemoveTree(installed);
}

TEST_F(HandoffEndToEndTest, AFailedBasicInstallCopyIsReported) {
  Outcome run = Start({L"e2e_noserver.exe", "show,wait=300", {"Basic install=OK"}});
  EXPECT_EQ((std::vector<Box>{BasicInstall(),
                              {"Error",
                               "Error copying application C:\\Talvorn\\Talvorn Server.exe 2",
                               "OK", "error"},
                              NoHandOff()}),
            run.boxes);
  EXPECT_TRUE(run.logLeft);
}

TEST_F(HandoffEndToEndTest, TheHandOffFileIsUsedDirectlyUnlessItHasAByteOrderMark) {
  std::wstring elsewhere = L"C:\\Talvorn Elsewhere";
  InstallCopy(elsewhere);
  Scenario scenario{L"e2e_demo.exe", "show,wait=300,install", {"Complete=OK"}};
  scenario.environment[L"TALVORN_SETUP_HANDOFF_PATH"] =
      elsewhere + L"\\Talvorn Server.exe";
  Outcome direct = Start(scenario);
  ASSERT_EQ(1u, direct.Events("Launcher.exe", "start").size());
  EXPECT_EQ(Narrow(elsewhere) + "\\Launcher.exe",
            direct.Events("Launcher.exe", "start")[0]["module"]);

  // With a BOM it names no file: the registry's folder is used instead.
  InstallCopy(elsewhere);
  RemoveTree(folder);
  CreateDirectoryW(folder.c_str(), nullptr);
  scenario.script = "show,wait=300,installing,copy,registry,handoff=bom,wait=400";
  Outcome bom = Start(scenario);
  ASSERT_EQ(1u, bom.Events("Launcher.exe", "start").size());
  EXPECT_EQ(Narrow(ProgramFilesInstall()) + "\\Launcher.exe",
            bom.Events("Launcher.exe", "start")[0]["module"]);
  RemoveTree(elsewhere);
}

TEST_F(HandoffEndToEndTest, InstPathIsFollowedUpTo129Characters) {
  std::wstring base = L"C:\\Talvorn Long ";
  for (size_t length : {size_t{129}, size_t{130}}) {
    std::wstring target = base + std::wstring(length - base.size(), L'x');
    RemoveTree(folder);
    CreateDirectoryW(folder.c_str(), nullptr);
    Scenario scenario{L"e2e_demo.exe", "show,wait=300,installing,copy,registry,wait=400",
                      {"Complete=OK", "Basic install=Cancel"}};
    scenario.environment[L"TALVORN_SETUP_INSTALL_DIR"] = target;
    Outcome run = Start(scenario);
    if (length == 129) {
      EXPECT_EQ((std::vector<Box>{NoHandOff(), Complete()}), run.boxes);
      ASSERT_EQ(1u, run.Events("Launcher.exe", "start").size());
      EXPECT_EQ(Narrow(target) + "\\Launcher.exe",
                run.Events("Launcher.exe", "start")[0]["module"]);
    } else {
      EXPECT_EQ((std::vector<Box>{NoHandOff(), BasicInstall()}), run.boxes);
    }
    RemoveTree(target);
  }
}

TEST_F(HandoffEndToEndTest, TheProgramFilesCopyComesBeforeTheFixedFolder) {
  InstallCopy(L"C:\\Talvorn");
  Outcome run = Start({L"e2e_demo.exe", "show,wait=300,installing,copy,wait=400",
                   {"Complete=OK"}});
  EXPECT_EQ((std::vector<Box>{NoHandOff(), Complete()}), run.boxes);
  ASSERT_EQ(1u, run.Events("Launcher.exe", "start").size());
  EXPECT_EQ(Narrow(ProgramFilesInstall()) + "\\Launcher.exe",
            run.Events("Launcher.exe", "start")[0]["module"]);
  EXPECT_TRUE(PathExists(L"C:\\Talvorn\\Launcher.exe"));
}

TEST_F(HandoffEndToEndTest, BothTitlesAtOnceCountAsInstallingWhenThatWindowIsMetFirst) {
  // The second window ("Installing") lies above the first and is met first.
  Outcome run = Start({L"e2e_demo.exe", "show,second=installing,wait=500",
                   {"Basic install=Cancel"}});
  EXPECT_EQ((std::vector<Box>{NoHandOff(), BasicInstall()}), run.boxes);
}

TEST_F(HandoffEndToEndTest, ACrashWhileInstallingLeadsToTheBasicInstallOffer) {
  Outcome run = Start({L"e2e_demo.exe", "show,wait=300,installing,wait=300,crash",
                   {"Basic install=Cancel"}});
  EXPECT_EQ((std::vector<Box>{NoHandOff(), BasicInstall()}), run.boxes);
  EXPECT_FALSE(run.tmpLeft);
}

TEST_F(HandoffEndToEndTest, AMarkerStillHeldOpenCountsAsAbsent) {
  Outcome run = Start({L"e2e_demo.exe", "show,hold=cancel.txt,wait=300,close,wait=1500",
                   {"Basic install=Cancel"}});
  EXPECT_EQ(std::vector<Box>{BasicInstall()}, run.boxes);
}

TEST_F(HandoffEndToEndTest, ASetupWindowAfterTheTenSecondWaitIsNotWaitedFor) {
  Outcome run = Start({L"e2e_demo.exe", "wait=11000,show,wait=300,cancel",
                   {"Basic install=Cancel"}});
  EXPECT_EQ(std::vector<Box>{BasicInstall()}, run.boxes);
  // The setup program was still running from tmp-1 when it was removed.
  EXPECT_TRUE(run.tmpLeft);
}

}  // namespace
