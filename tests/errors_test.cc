#include "support/errors.h"

#include "support/log.h"
#include "tests/test_support.h"

namespace {

class ErrorsTest : public ExtractorTest {
 protected:
  void SetUp() override {
    ExtractorTest::SetUp();
    OpenExtractionLog(scratch.path().c_str());
  }
  std::wstring LastLogLine() {
    return ReadLogLines(scratch / L"TLExtractorLog.txt").back();
  }
  template <typename F>
  int CaughtCode(F raise) {
    try {
      raise();
    } catch (CException* e) {
      EXPECT_EQ(lastRaised, e);
      return e->code;
    }
    ADD_FAILURE() << "nothing was raised";
    return 0;
  }
};

TEST_F(ErrorsTest, ReportAndContinueLogsFirstThenShowsWithTheErrorIcon) {
  std::wstring loggedWhileOpen;
  boxes.onShow = [&](const RecordedBox&) { loggedWhileOpen = LastLogLine(); };
  EXPECT_EQ(IDOK, ReportError(L"wide message"));
  EXPECT_EQ(L"wide message", loggedWhileOpen);
  ReportErrorA("narrow message");
  ReportErrorFormat(L"Could not open file \"%s\"", L"C:\\x");
  ASSERT_EQ(3u, boxes.boxes.size());
  for (const RecordedBox& box : boxes.boxes) {
    EXPECT_EQ(L"Error", box.caption);
    EXPECT_EQ(UINT(MB_OK | MB_ICONERROR), box.flags);
  }
  EXPECT_EQ(L"narrow message", boxes.boxes[1].text);
  EXPECT_EQ(L"Could not open file \"C:\\x\"", boxes.boxes[2].text);
  EXPECT_EQ(1, errorShown);
}

TEST_F(ErrorsTest, CodeReportsPassTheHintAsThirdValue) {
  ReportErrorCode(L"Error creating log file %s %d", L"C:\\log", 5);
  ReportErrorCode(L"%s %d%s", L"full", 112);
  ReportErrorCode(L"%s %d%s", L"busy", 32);
  ReportErrorCode(L"%s %d%s", L"other", 2);
  ReportErrorCodeA("%s %d%s", "narrow full", 112);
  ReportErrorCodeA("%s %d", "No zip", 100);
  EXPECT_EQ((std::vector<std::wstring>{
                L"Error creating log file C:\\log 5",
                L"full 112, The selected disk is full",
                L"busy 32, Quit the application before installing",
                L"other 2", L"narrow full 112, The selected disk is full",
                L"No zip 100"}),
            boxes.Texts());
}

TEST_F(ErrorsTest, ReportAndRaiseShowsNoIconAndThrowsTheCode) {
  EXPECT_EQ(-1, CaughtCode([] { FailA("Can't create tmp directory"); }));
  EXPECT_EQ(5, CaughtCode([] { Fail(L"Error creating directory", L"C:\\d", 5); }));
  EXPECT_EQ(-1, CaughtCode([] { FailFormatA("Error writing %s", "Writing raw data"); }));
  EXPECT_EQ(-1, CaughtCode([] { Require(nullptr, "unzipFrom"); }));
  EXPECT_EQ((std::vector<std::wstring>{L"Can't create tmp directory Error=-1",
                                       L"Error creating directory C:\\d Error=5",
                                       L"Error writing Writing raw data",
                                       L"unzipFrom Error=-1"}),
            boxes.Texts());
  for (const RecordedBox& box : boxes.boxes) {
    EXPECT_EQ(L"Error", box.caption);
    EXPECT_EQ(UINT(MB_OK), box.flags);
  }
  EXPECT_EQ(L"unzipFrom Error=-1", LastLogLine());
  EXPECT_EQ(0, errorShown);  // raising alone does not keep the log
}

TEST_F(ErrorsTest, OnlyTheLatestRaisedExceptionIsKept) {
  CException* first = nullptr;
  try {
    RaiseCException(7);
  } catch (CException* e) {
    first = e;
  }
  try {
    RaiseCException(8);
  } catch (CException* e) {
    EXPECT_EQ(lastRaised, e);
    EXPECT_EQ(8, e->code);
  }
  EXPECT_NE(nullptr, first);
}

TEST_F(ErrorsTest, RequireLetsAnyNonZeroValuePass) {
  Require(INVALID_HANDLE_VALUE, "handle");
  Require(reinterpret_cast<void*>(1), "one");
  EXPECT_TRUE(boxes.boxes.empty());
}

TEST_F(ErrorsTest, OverLongMessagesAreCutNotOverflowed) {
  std::wstring longText(2000, L'p');
  std::string longLabel(2000, 'l');
  ReportErrorCode(L"%s %d", longText.c_str(), 5);
  ReportErrorFormat(L"%s", longText.c_str());
  EXPECT_EQ(-1, CaughtCode([&] { FailA(longLabel.c_str()); }));
  EXPECT_EQ(3, CaughtCode([&] { Fail(longText.c_str(), longText.c_str(), 3); }));
  ASSERT_EQ(4u, boxes.boxes.size());
  EXPECT_EQ(std::wstring(299, L'p'), boxes.boxes[0].text);
  EXPECT_EQ(std::wstring(999, L'p'), boxes.boxes[1].text);
  EXPECT_EQ(Widen(std::string(999, 'l')), boxes.boxes[2].text);
  EXPECT_EQ(999u, boxes.boxes[3].text.size());
}

}  // namespace
