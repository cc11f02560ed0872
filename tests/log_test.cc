#include "support/log.h"

#include <tlhelp32.h>

#include "support/errors.h"
#include "tests/test_support.h"

namespace {

int ThreadsOfThisProcess() {
  HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0);
  THREADENTRY32 thread = {};
  thread.dwSize = sizeof thread;
  int count = 0;
  for (BOOL more = Thread32First(snapshot, &thread); more;
       more = Thread32Next(snapshot, &thread)) {
    if (thread.th32OwnerProcessID == GetCurrentProcessId()) ++count;
  }
  CloseHandle(snapshot);
  return count;
}

class LogTest : public ExtractorTest {
 protected:
  std::wstring LogPath() const { return scratch / L"TLExtractorLog.txt"; }
};

// The old log here is a hard link to another file, as one planted beside an
// elevated extractor could be: the log is made afresh, the other file stays.
TEST_F(LogTest, ReplacesAnOldLogAndStartsWithItsOwnPath) {
  std::wstring other = scratch / L"other.txt";
  WriteBytes(other, std::string(5000, 'x'));
  ASSERT_TRUE(CreateHardLinkW(LogPath().c_str(), other.c_str(), nullptr));
  OpenExtractionLog((scratch.path() + L"\\").c_str());  // no second backslash
  EXPECT_EQ(std::string(5000, 'x'), ReadBytes(other));
  std::string bytes = ReadBytes(LogPath());
  ASSERT_GE(bytes.size(), 2u);
  EXPECT_EQ("\xFF\xFE", bytes.substr(0, 2));
  EXPECT_EQ(std::vector<std::wstring>{LogPath()}, ReadLogLines(LogPath()));
  EXPECT_EQ(LogPath(), ExtractionLogPath());
}

// An old log that cannot lose its name without harm to another file: a hard
// link to one that another program holds open without delete sharing (the
// name cannot go, and only a new file made afresh keeps the other intact),
// and a Unix symbolic link (which Wine opens as its target). The log then
// cannot be made; the other file stays as it was.
TEST_F(LogTest, AnOldLogThatCannotGoSafelyLeavesTheOtherFileAlone) {
  std::wstring other = scratch / L"other.txt";
  WriteBytes(other, std::string(5000, 'x'));
  for (bool symbolic : {false, true}) {
    SCOPED_TRACE(symbolic ? "symbolic link" : "held hard link");
    ResetLogForTesting();
    ResetErrorsForTesting();
    boxes.boxes.clear();
    HANDLE holder = INVALID_HANDLE_VALUE;
    if (symbolic) {
      ASSERT_TRUE(MakeUnixLink(LogPath(), other));
    } else {
      ASSERT_TRUE(CreateHardLinkW(LogPath().c_str(), other.c_str(), nullptr));
      holder = CreateFileW(other.c_str(), GENERIC_READ,
                           FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                           OPEN_EXISTING, 0, nullptr);
      ASSERT_NE(INVALID_HANDLE_VALUE, holder);
    }
    OpenExtractionLog(scratch.path().c_str());
    ASSERT_EQ(1u, boxes.boxes.size());
    EXPECT_EQ(L"Error creating log file " + LogPath() + L" 80", boxes.boxes[0].text);
    EXPECT_EQ(std::string(5000, 'x'), ReadBytes(other));
    if (holder != INVALID_HANDLE_VALUE) CloseHandle(holder);
    if (symbolic) RemoveUnixLink(LogPath());
    DeleteFileW(LogPath().c_str());
  }
}

TEST_F(LogTest, EndsLinesUnlessTheTextEndsInALineFeed) {
  OpenExtractionLog(scratch.path().c_str());
  LogLine(L"ends in lf\n");
  LogLine(L"ends in cr\r");
  LogLine(L"");
  LogLineA("plain ascii");
  LogFormat(L"%s and %d", L"text", -7);
  std::string bytes = ReadBytes(LogPath());
  std::wstring expected = LogPath() +
                          L"\r\nends in lf\nends in cr\r\r\n\r\nplain ascii\r\n"
                          L"text and -7\r\n";
  std::string expectedBytes = "\xFF\xFE";
  for (wchar_t c : expected) {
    expectedBytes.push_back(static_cast<char>(c & 0xFF));
    expectedBytes.push_back(static_cast<char>(c >> 8));
  }
  EXPECT_EQ(expectedBytes, bytes);
}

TEST_F(LogTest, EachLineIsOnDiskAndTheFileIsLockedWhileOpen) {
  OpenExtractionLog(scratch.path().c_str());
  LogLine(L"first");
  // Others may read the open log, but neither write nor delete it.
  EXPECT_EQ(2u, ReadLogLines(LogPath()).size());
  EXPECT_FALSE(DeleteFileW(LogPath().c_str()));
  HANDLE writer = CreateFileW(LogPath().c_str(), GENERIC_WRITE,
                              FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                              OPEN_EXISTING, 0, nullptr);
  EXPECT_EQ(INVALID_HANDLE_VALUE, writer);
  if (writer != INVALID_HANDLE_VALUE) CloseHandle(writer);
}

// The log's own thread flushes; every line is in the file, in order, when
// its call returns, also one too long to go out in a single write. Once the
// log is flushed for the end of the run the thread is gone, and a line
// written after that still reaches the file.
TEST_F(LogTest, EachLineIsInTheFileInOrderAtOnceAndTheThreadEndsWithTheRun) {
  int threads = ThreadsOfThisProcess();
  OpenExtractionLog(scratch.path().c_str());
  EXPECT_EQ(threads + 1, ThreadsOfThisProcess());
  std::vector<std::wstring> expected{LogPath()};
  for (int i = 0; i < 300; ++i) {
    expected.push_back(i == 150 ? std::wstring(kLogLineSize + 500, L'x')
                                : L"line " + std::to_wstring(i));
    LogLine(expected.back().c_str());
    ASSERT_EQ(expected, ReadLogLines(LogPath())) << "after line " << i;
  }
  FlushExtractionLog();
  EXPECT_EQ(threads, ThreadsOfThisProcess());
  LogLine(L"after the end");
  expected.push_back(L"after the end");
  EXPECT_EQ(expected, ReadLogLines(LogPath()));
  FlushExtractionLog();  // nothing left to stop

  // Closing stops the thread as well.
  ResetLogForTesting();
  OpenExtractionLog(scratch.path().c_str());
  LogLine(L"closed");
  CloseExtractionLog();
  EXPECT_EQ(threads, ThreadsOfThisProcess());
}

TEST_F(LogTest, OpensOnceEvenAfterAFailedFirstAttempt) {
  std::wstring missing = scratch / L"no such folder";
  OpenExtractionLog(missing.c_str());
  ASSERT_EQ(1u, boxes.boxes.size());
  EXPECT_EQ(L"Error creating log file " + missing +
                L"\\TLExtractorLog.txt 3",
            boxes.boxes[0].text);
  EXPECT_EQ(UINT(MB_OK | MB_ICONERROR), boxes.boxes[0].flags);
  EXPECT_EQ(1, errorShown);

  OpenExtractionLog(scratch.path().c_str());
  LogLine(L"dropped");
  EXPECT_FALSE(PathExists(LogPath()));
  EXPECT_EQ(1u, boxes.boxes.size());
}

// The extractor's folder could not be held (its handle is
// INVALID_HANDLE_VALUE, which is also this process's own): the log is made
// by the folder's name, not relative to a handle on the process.
TEST_F(LogTest, AFolderThatIsNotHeldGetsItsLogByName) {
  HeldFolder unheld;
  InitHeldFolder(&unheld);
  lstrcpyW(unheld.path, scratch.path().c_str());
  OpenExtractionLogIn(unheld);
  LogLine(L"by name");
  EXPECT_TRUE(boxes.boxes.empty());
  EXPECT_EQ((std::vector<std::wstring>{LogPath(), L"by name"}), ReadLogLines(LogPath()));
}

TEST_F(LogTest, SecondOpenKeepsTheFirstLog) {
  ScratchFolder other;
  OpenExtractionLog(scratch.path().c_str());
  OpenExtractionLog(other.path().c_str());
  LogLine(L"still here");
  EXPECT_FALSE(PathExists(other / L"TLExtractorLog.txt"));
  EXPECT_EQ(L"still here", ReadLogLines(LogPath()).back());
}

TEST_F(LogTest, LineBeforeOpenReportsNoLogFileOnceAndGivesUp) {
  LogLine(L"too early");
  LogLineA("still too early");
  ASSERT_EQ(1u, boxes.boxes.size());
  EXPECT_EQ(L"No log file", boxes.boxes[0].text);
  EXPECT_EQ(L"Error", boxes.boxes[0].caption);
  EXPECT_EQ(1, errorShown);
  OpenExtractionLog(scratch.path().c_str());
  EXPECT_FALSE(PathExists(LogPath()));
}

TEST_F(LogTest, CloseDeletesTheLogUnlessAnErrorWasShown) {
  OpenExtractionLog(scratch.path().c_str());
  // Only the log's own name goes; another name of the file keeps it.
  std::wstring kept = scratch / L"kept.txt";
  ASSERT_TRUE(CreateHardLinkW(kept.c_str(), LogPath().c_str(), nullptr));
  CloseExtractionLog();
  EXPECT_FALSE(PathExists(LogPath()));
  EXPECT_EQ(std::vector<std::wstring>{LogPath()}, ReadLogLines(kept));

  ResetLogForTesting();
  OpenExtractionLog(scratch.path().c_str());
  ReportError(L"something failed");
  CloseExtractionLog();
  ASSERT_TRUE(PathExists(LogPath()));
  EXPECT_EQ(L"something failed", ReadLogLines(LogPath()).back());
}

TEST_F(LogTest, LongTextsAreCutInsideTheirBuffers) {
  OpenExtractionLog(scratch.path().c_str());
  std::string longText(5000, 'a');
  LogLineA(longText.c_str());
  LogFormat(L"%s", Widen(longText).c_str());
  std::vector<std::wstring> lines = ReadLogLines(LogPath());
  ASSERT_EQ(3u, lines.size());
  EXPECT_EQ(std::wstring(kLogLineSize - 1, L'a'), lines[1]);
  EXPECT_EQ(std::wstring(kLogLineSize - 1, L'a'), lines[2]);
}

TEST_F(LogTest, AFolderTooLongForTheLogPathIsReportedAndNothingIsCreated) {
  // 245 units: a folder the platform can make, with no room for the log.
  std::wstring deep = scratch.path() + L"\\";
  deep += std::wstring(245 - deep.size(), L'd');
  ASSERT_TRUE(CreateDirectoryW(deep.c_str(), nullptr));
  OpenExtractionLog(deep.c_str());
  ASSERT_EQ(1u, boxes.boxes.size());
  EXPECT_NE(std::wstring::npos, boxes.boxes[0].text.find(L" 206"));
  EXPECT_EQ(L"", std::wstring(ExtractionLogPath()));
  // Nothing was made at a cut path either.
  WIN32_FIND_DATAW found;
  HANDLE search = FindFirstFileW((deep + L"\\*").c_str(), &found);
  int entries = 0;
  if (search != INVALID_HANDLE_VALUE) {
    do ++entries; while (FindNextFileW(search, &found));
    FindClose(search);
  }
  EXPECT_EQ(2, entries);  // "." and ".."
}

}  // namespace
