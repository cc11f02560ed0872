// The progress dialog run for real, in this process, with this program's own
// resources: dialog 1000 and a payload of no entries (see unit_payload.rc).
// Its work makes the log and tmp-n in this program's folder.
#include "app/progress_dialog.h"

#include <functional>

#include "payload/extract.h"
#include "support/log.h"
#include "tests/test_support.h"

namespace {

std::function<void(HWND)> afterInit;

INT_PTR CALLBACK HookedProc(HWND dialog, UINT message, WPARAM wParam,
                            LPARAM lParam) {
  INT_PTR result = ProgressDialogProc(dialog, message, wParam, lParam);
  if (message == WM_INITDIALOG && afterInit) afterInit(dialog);
  return result;
}

class DialogTest : public ExtractorTest {
 protected:
  void SetUp() override {
    ExtractorTest::SetUp();
    instanceHandle = GetModuleHandleW(nullptr);
    CleanProgramFolder();
  }
  void TearDown() override {
    afterInit = nullptr;
    ExtractorTest::TearDown();
    CleanProgramFolder();
  }
  static void CleanProgramFolder() {
    for (int n = 1; n <= 50; ++n) {
      RemoveTree(ProgramFolder() + L"\\tmp-" + std::to_wstring(n));
    }
    DeleteFileW(LogPath().c_str());
  }
  static std::wstring LogPath() {
    return ProgramFolder() + L"\\TLExtractorLog.txt";
  }
  INT_PTR RunDialog() {
    return DialogBoxParamA(GetModuleHandleW(nullptr),
                           MAKEINTRESOURCEA(kProgressDialogId), nullptr,
                           HookedProc, 0);
  }
};

TEST_F(DialogTest, RunsTheWorkOnceOnTheFirstVisibleTick) {
  std::string status;
  std::string caption;
  bool workedWhileHidden = true;
  afterInit = [&](HWND dialog) {
    char text[64];
    GetDlgItemTextA(dialog, kStatusLineId, text, sizeof text);
    status = text;
    GetWindowTextA(dialog, text, sizeof text);
    caption = text;
    // A tick before the dialog is on screen only restarts the timer.
    SendMessageW(dialog, WM_TIMER, 0, 0);
    workedWhileHidden = PathExists(LogPath());
  };
  // No entries: the dialog ends with 0 and everything made stays.
  EXPECT_EQ(0, RunDialog());
  EXPECT_EQ("Unpacking files...", status);
  EXPECT_EQ("Status", caption);
  EXPECT_FALSE(workedWhileHidden);
  EXPECT_TRUE(PathExists(ProgramFolder() + L"\\tmp-1"));
  EXPECT_FALSE(PathExists(ProgramFolder() + L"\\tmp-2"));  // ran once
  std::vector<std::wstring> lines = ReadLogLines(LogPath());
  ASSERT_EQ(5u, lines.size());
  EXPECT_EQ(L"ExtractFiles destDir=" + ProgramFolder() + L"\\tmp-1", lines[4]);
  EXPECT_TRUE(boxes.boxes.empty());
}

TEST_F(DialogTest, CloseBeforeTheFirstVisibleTickEndsWithNothingDone) {
  afterInit = [](HWND dialog) { PostMessageW(dialog, WM_CLOSE, 0, 0); };
  EXPECT_EQ(2, RunDialog());
  EXPECT_FALSE(PathExists(LogPath()));
  EXPECT_FALSE(PathExists(ProgramFolder() + L"\\tmp-1"));
}

TEST_F(DialogTest, EscapeDoesNotCloseTheDialog) {
  afterInit = [](HWND dialog) {
    PostMessageW(dialog, WM_KEYDOWN, VK_ESCAPE, 0);
    PostMessageW(dialog, WM_COMMAND, IDCANCEL, 0);
  };
  // Escape would have ended the dialog with IDCANCEL (2) before any work.
  EXPECT_EQ(0, RunDialog());
  EXPECT_TRUE(PathExists(ProgramFolder() + L"\\tmp-1"));
}

TEST_F(DialogTest, ARaisedFailureEndsTheDialogWithTwoAndKeepsTheLog) {
  for (int n = 1; n <= 49; ++n) {
    CreateDirectoryW((ProgramFolder() + L"\\tmp-" + std::to_wstring(n)).c_str(),
                     nullptr);
  }
  HWND progress = nullptr;
  int nestedTicks = 0;
  afterInit = [&](HWND dialog) { progress = dialog; };
  // Ticks delivered while the failure's box is open must not start the work
  // again.
  boxes.onShow = [&](const RecordedBox&) {
    SendMessageW(progress, WM_TIMER, 0, 0);
    ++nestedTicks;
  };
  EXPECT_EQ(2, RunDialog());
  EXPECT_EQ(1, nestedTicks);
  ASSERT_EQ(1u, boxes.boxes.size());
  EXPECT_EQ(L"Can't create tmp directory Error=-1", boxes.boxes[0].text);
  EXPECT_EQ(UINT(MB_OK), boxes.boxes[0].flags);
  EXPECT_FALSE(PathExists(ProgramFolder() + L"\\tmp-50"));
  EXPECT_EQ(L"Can't create tmp directory Error=-1",
            ReadLogLines(LogPath()).back());
}

TEST_F(DialogTest, AMissingPayloadShowsItsBoxAndEndsWithZero) {
  // A module without RCDATA 100 stands in for an extractor without payload.
  instanceHandle = GetModuleHandleW(L"kernel32.dll");
  EXPECT_EQ(0, RunDialog());
  ASSERT_EQ(1u, boxes.boxes.size());
  EXPECT_EQ(L"Error finding installer application", boxes.boxes[0].text);
  EXPECT_EQ(UINT(MB_OK | MB_ICONERROR), boxes.boxes[0].flags);
  // The folder and the log were made before the lookup; the box is not logged.
  EXPECT_TRUE(PathExists(ProgramFolder() + L"\\tmp-1"));
  EXPECT_EQ(4u, ReadLogLines(LogPath()).size());
}

}  // namespace
