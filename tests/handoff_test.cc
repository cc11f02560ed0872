// Finding the setup program by its window titles, the waits (on the fake
// clock), the argument string and the launch failure path. The windows are
// real top-level windows of this process.
#include "app/setup_handoff.h"

#include <memory>

#include "app/progress_dialog.h"
#include "app/single_run.h"
#include "support/errors.h"
#include "support/log.h"
#include "support/process_level.h"
#include "support/seams.h"
#include "tests/test_support.h"

namespace {

struct WindowCloser {
  void operator()(HWND window) const { DestroyWindow(window); }
};
using Window = std::unique_ptr<std::remove_pointer_t<HWND>, WindowCloser>;

Window MakeWindow(const char* title) {
  // Hidden: visibility must not matter.
  return Window(CreateWindowExA(0, "STATIC", title, WS_POPUP, 0, 0, 10, 10,
                                nullptr, nullptr, nullptr, nullptr));
}

// Replaces the integrity-level check while alive: this process runs at own,
// every other one at others (0: cannot be read).
class FakeLevels {
 public:
  FakeLevels(DWORD own, DWORD others) {
    ownLevel = own;
    otherLevel = others;
    seams::processLevel = Level;
  }
  ~FakeLevels() { seams::processLevel = ProcessIntegrityLevel; }

 private:
  static DWORD Level(DWORD process) {
    return process == GetCurrentProcessId() ? ownLevel : otherLevel;
  }
  static DWORD ownLevel, otherLevel;
};
DWORD FakeLevels::ownLevel, FakeLevels::otherLevel;

// The setup stand-in, showing its window titled "Talvorn Installer:
// Installing" for a few seconds; ended when the test is done with it.
class SetupStandin {
 public:
  explicit SetupStandin(const std::wstring& folder) {
    SetEnvironmentVariableW(L"TALVORN_SETUP_SCRIPT", L"installing,wait=5000");
    SetEnvironmentVariableW(L"TALVORN_RECORD_FILE",
                            (folder + L"\\records.txt").c_str());
    std::wstring command =
        L"\"" + ProgramFolder() + L"\\..\\testkit\\InstallTalvorn.exe\"";
    started_ = StartProcess(command, folder.c_str(), &process_);
    SetEnvironmentVariableW(L"TALVORN_SETUP_SCRIPT", nullptr);
    SetEnvironmentVariableW(L"TALVORN_RECORD_FILE", nullptr);
  }
  ~SetupStandin() {
    if (!started_) return;
    TerminateProcess(process_.hProcess, 0);
    WaitForSingleObject(process_.hProcess, 5000);
    CloseHandle(process_.hProcess);
    CloseHandle(process_.hThread);
  }
  bool started() const { return started_; }

 private:
  bool started_ = false;
  PROCESS_INFORMATION process_ = {};
};

class HandoffTest : public ExtractorTest {};

TEST_F(HandoffTest, OnlyTheTwoExactTitlesCount) {
  Window nearMisses[] = {MakeWindow("Talvorn Installer "),
                         MakeWindow("talvorn installer"),
                         MakeWindow("Talvorn Installer: installing"),
                         MakeWindow("Talvorn Installer: Installing...")};
  EXPECT_EQ(0, FindSetupWindow());
  Window plain = MakeWindow("Talvorn Installer");
  EXPECT_EQ(1, FindSetupWindow());
  EXPECT_EQ(0, installingSeen);
  plain.reset();
  Window installing = MakeWindow("Talvorn Installer: Installing");
  EXPECT_EQ(1, FindSetupWindow());
  EXPECT_EQ(1, installingSeen);
  installing.reset();
  EXPECT_EQ(0, FindSetupWindow());
  EXPECT_EQ(1, installingSeen);  // never cleared
}

BOOL CALLBACK FirstSetupTitle(HWND window, LPARAM out) {
  char title[64];
  GetWindowTextA(window, title, sizeof title);
  if (strncmp(title, "Talvorn Installer", 17) != 0) return TRUE;
  *reinterpret_cast<std::string*>(out) = title;
  return FALSE;
}

TEST_F(HandoffTest, WithBothTitlesTheFirstWindowMetDecides) {
  Window installing = MakeWindow("Talvorn Installer: Installing");
  Window plain = MakeWindow("Talvorn Installer");
  std::string first;
  EnumWindows(FirstSetupTitle, reinterpret_cast<LPARAM>(&first));
  EXPECT_EQ(1, FindSetupWindow());
  EXPECT_EQ(first == "Talvorn Installer: Installing" ? 1 : 0, installingSeen);
}

// A program of a standard user (below the elevated extractor's level) could
// show the setup titles and so steer the run: another process's window
// counts only at this process's level or above, and never when either level
// cannot be read. This process's own windows count as before.
TEST_F(HandoffTest, OnlySetupWindowsAtOurLevelOrAboveCount) {
  SetupStandin setup(scratch.path());
  ASSERT_TRUE(setup.started());
  // Wine runs every process at one level, so the real check lets it count.
  // The window is made with the plain title and then given the other one.
  for (int i = 0; i < 100 && !installingSeen; ++i) {
    FindSetupWindow();
    if (!installingSeen) Sleep(50);
  }
  ASSERT_EQ(1, installingSeen);
  const struct {
    DWORD own, other;
    int found;
  } cases[] = {{0x3000, 0x3000, 1}, {0x3000, 0x4000, 1}, {0x2000, 0x3000, 1},
               {0x3000, 0x2000, 0}, {0x3000, 0, 0},      {0, 0x3000, 0}};
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << std::hex << c.own << " " << c.other);
    FakeLevels levels(c.own, c.other);
    ResetHandoffForTesting();
    EXPECT_EQ(c.found, FindSetupWindow());
    EXPECT_EQ(c.found, installingSeen);
  }
  FakeLevels lower(0x3000, 0x2000);
  ResetHandoffForTesting();
  Window own = MakeWindow("Talvorn Installer");
  EXPECT_EQ(1, FindSetupWindow());
  EXPECT_EQ(0, installingSeen);
}

// A second copy brings the running copy's marked dialog to the front, but
// never a marked window of a program below its level, which any program of
// the user could show to have the elevated run raise it. The setup
// stand-in's window stands in for a running copy's dialog; this process
// holds the run's object and so finds "another run" when it asks again.
TEST_F(HandoffTest, OnlyAMarkedWindowAtOurLevelIsBroughtForward) {
  SetupStandin setup(scratch.path());
  ASSERT_TRUE(setup.started());
  HWND marked = nullptr;
  for (int i = 0; i < 100 && marked == nullptr; ++i) {
    marked = FindWindowA(nullptr, "Talvorn Installer");
    if (marked == nullptr) marked = FindWindowA(nullptr, "Talvorn Installer: Installing");
    if (marked == nullptr) Sleep(50);
  }
  ASSERT_NE(nullptr, marked);
  MarkRunWindow(marked);
  ASSERT_TRUE(ClaimSingleRun());
  Window own(CreateWindowExA(0, "STATIC", "own", WS_POPUP | WS_VISIBLE, 0, 0, 10, 10,
                             nullptr, nullptr, nullptr, nullptr));
  for (DWORD other : {0x2000, 0x3000}) {
    SCOPED_TRACE(testing::Message() << std::hex << other);
    SetForegroundWindow(own.get());
    ASSERT_EQ(own.get(), GetForegroundWindow());
    FakeLevels levels(0x3000, other);
    EXPECT_FALSE(ClaimSingleRun());
    // Raised, the marked window takes the front from this process's (Wine
    // hands it over to the other process's thread, which may take a while).
    EXPECT_EQ(other == 0x2000, own.get() == GetForegroundWindow());
  }
}

TEST_F(HandoffTest, ArgumentStringHasThreeQuotedFieldsOfUtf16Base64) {
  wchar_t arguments[kArgumentSize] = {};
  AppendEncodedArgument(arguments, L"C:\\");
  AppendEncodedArgument(arguments, L"C:\\P\\Talvorn\\");
  AppendEncodedArgument(arguments, L"C:\\D\\");
  EXPECT_STREQ(
      L"\"QwA6AFwA\",\"QwA6AFwAUABcAFQAYQBsAHYAbwByAG4AXAA=\","
      L"\"QwA6AFwARABcAA==\"",
      arguments);
  wchar_t empty[kArgumentSize] = {};
  AppendEncodedArgument(empty, L"");
  AppendEncodedArgument(empty, L"");
  EXPECT_STREQ(L"\"\",\"\"", empty);
}

TEST_F(HandoffTest, AWindowThatNeverComesIsAwaitedForTenSeconds) {
  for (DWORD start : {0u, 0xFFFFFFFFu - 4000u}) {  // the second one wraps
    FakeClock clock(start);
    WaitForSetupWindow();
    EXPECT_EQ(std::vector<DWORD>(100, 100), clock.sleeps) << start;
  }
}

TEST_F(HandoffTest, TheWaitFollowsTheWindowUntilItIsGone) {
  FakeClock clock(0xFFFFFF00u);
  Window window;
  clock.onSleep = [&](DWORD now) {
    if (now == 0xFFFFFF00u + 300) window = MakeWindow("Talvorn Installer");
    if (now == 0xFFFFFF00u + 900) window.reset();
  };
  WaitForSetupWindow();
  EXPECT_EQ((std::vector<DWORD>{100, 100, 100, 200, 200, 200}), clock.sleeps);
}

INT_PTR CALLBACK PlainDialogProc(HWND, UINT message, WPARAM, LPARAM) {
  return message == WM_INITDIALOG;
}

TEST_F(HandoffTest, ALaunchFailureIsShownThenTheBasicInstallIsOffered) {
  OpenExtractionLog(scratch.path().c_str());
  std::wstring tempDirectory = scratch / L"tmp-1";
  CreateDirectoryW(tempDirectory.c_str(), nullptr);
  WriteBytes(tempDirectory + L"\\leftover.txt", "x");
  HWND dialog = CreateDialogParamA(GetModuleHandleW(nullptr),
                                   MAKEINTRESOURCEA(kProgressDialogId), nullptr,
                                   PlainDialogProc, 0);
  ShowWindow(dialog, SW_SHOW);
  bool dialogShownAtLaunchBox = false;
  boxes.onShow = [&](const RecordedBox& box) {
    if (box.caption == L"Extractor") dialogShownAtLaunchBox = IsWindowVisible(dialog);
  };
  boxes.QueueAnswer(IDOK);
  boxes.QueueAnswer(IDCANCEL);  // no basic install
  HeldFolder held = HeldAt(tempDirectory);
  EXPECT_NE(0, RunSetupProgram(dialog, &held));
  ASSERT_EQ(2u, boxes.boxes.size());
  EXPECT_EQ(L"Extractor", boxes.boxes[0].caption);
  EXPECT_EQ(L"Error launching installer. Error=2", boxes.boxes[0].text);
  EXPECT_EQ(UINT(MB_OK), boxes.boxes[0].flags);
  EXPECT_TRUE(dialogShownAtLaunchBox);
  EXPECT_EQ(L"Basic install", boxes.boxes[1].caption);
  EXPECT_EQ(UINT(MB_OKCANCEL | MB_ICONQUESTION), boxes.boxes[1].flags);
  EXPECT_FALSE(IsWindowVisible(dialog));
  EXPECT_FALSE(PathExists(tempDirectory));
  // The launch failure is not logged and does not keep the log.
  EXPECT_EQ(L"Do basic install",
            ReadLogLines(scratch / L"TLExtractorLog.txt").back());
  EXPECT_EQ(0, errorShown);
  DestroyWindow(dialog);
}

}  // namespace
