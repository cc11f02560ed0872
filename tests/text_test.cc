#include "support/base64.h"
#include "support/bytes.h"
#include "support/file_util.h"
#include "support/text.h"
#include "tests/test_support.h"

namespace {

TEST(TextTest, CopyAndAppendCutAtTheBufferAndSayWhetherItFitted) {
  wchar_t buffer[6];
  EXPECT_TRUE(CopyText(buffer, 6, L"abcde"));
  EXPECT_FALSE(AppendText(buffer, 6, L"f"));
  EXPECT_STREQ(L"abcde", buffer);
  EXPECT_FALSE(CopyText(buffer, 6, L"abcdefgh"));
  EXPECT_STREQ(L"abcde", buffer);
  char narrow[4] = "";
  EXPECT_TRUE(AppendText(narrow, 4, "ab"));
  EXPECT_FALSE(AppendText(narrow, 4, "cd"));
  EXPECT_STREQ("abc", narrow);
}

TEST(TextTest, FormatsWithWideStringsAndCutsLongResults) {
  wchar_t buffer[12];
  EXPECT_TRUE(FormatText(buffer, 12, L"%s-%d", L"tmp", 49));
  EXPECT_STREQ(L"tmp-49", buffer);
  EXPECT_TRUE(FormatText(buffer, 12, L"%s", L"exactly 11!"));
  EXPECT_STREQ(L"exactly 11!", buffer);
  EXPECT_FALSE(FormatText(buffer, 12, L"%s", L"twelve chars"));
  EXPECT_STREQ(L"twelve char", buffer);
  char narrow[8];
  EXPECT_FALSE(FormatText(narrow, 8, "%s Error=%d", "x", -1));
  EXPECT_STREQ("x Error", narrow);
}

TEST(TextTest, WidenCopyKeepsEachByteValue) {
  wchar_t buffer[8];
  EXPECT_TRUE(WidenCopy(buffer, 8, "Mar  6"));
  EXPECT_STREQ(L"Mar  6", buffer);
  EXPECT_TRUE(WidenCopy(buffer, 8, "\xE9\xFF"));
  EXPECT_EQ(0x00E9, buffer[0]);  // not sign-extended to 0xFFE9
  EXPECT_EQ(0x00FF, buffer[1]);
  EXPECT_FALSE(WidenCopy(buffer, 3, "abcd"));
  EXPECT_STREQ(L"ab", buffer);
}

TEST(TextTest, ByteCopiesReadLittleEndianAndTerminate) {
  const uint8_t bytes[] = {0x01, 0x02, 0x03, 0x84, 'n', 'a', 'm', 'e'};
  uint32_t value = 0;
  ReadU32(&value, bytes);
  EXPECT_EQ(0x84030201u, value);
  char name[5];
  CopyBytesTerminated(name, 4, bytes + 4);
  EXPECT_STREQ("name", name);
}

TEST(Base64Test, EncodesTheStandardVectors) {
  const char* const vectors[][2] = {{"", ""},         {"f", "Zg=="},
                                    {"fo", "Zm8="},   {"foo", "Zm9v"},
                                    {"foob", "Zm9vYg=="}, {"fooba", "Zm9vYmE="},
                                    {"foobar", "Zm9vYmFy"}};
  for (const auto& vector : vectors) {
    char out[16];
    ASSERT_TRUE(Base64Encode(reinterpret_cast<const uint8_t*>(vector[0]),
                             strlen(vector[0]), out, sizeof out));
    EXPECT_STREQ(vector[1], out);
  }
  const uint8_t high[] = {0xFB, 0xFF};
  char out[8];
  ASSERT_TRUE(Base64Encode(high, 2, out, sizeof out));
  EXPECT_STREQ("+/8=", out);
}

TEST(Base64Test, RefusesABufferTooSmall) {
  char out[4] = "xyz";
  EXPECT_FALSE(Base64Encode(reinterpret_cast<const uint8_t*>("foo"), 3, out, 4));
  EXPECT_STREQ("", out);
}

// Path strings, composed in fixed buffers.
TEST(PathTest, AppendBackslashAddsExactlyOne) {
  wchar_t path[8] = L"C:\\dir";
  EXPECT_TRUE(AppendBackslash(path, 8));
  EXPECT_STREQ(L"C:\\dir\\", path);
  EXPECT_TRUE(AppendBackslash(path, 8));
  EXPECT_STREQ(L"C:\\dir\\", path);
  wchar_t empty[2] = L"";
  EXPECT_TRUE(AppendBackslash(empty, 2));
  EXPECT_STREQ(L"\\", empty);
  wchar_t full[4] = L"C:x";
  EXPECT_FALSE(AppendBackslash(full, 4));
  EXPECT_STREQ(L"C:x", full);
}

TEST(PathTest, CutLastComponentNeverCutsALeadingBackslash) {
  const wchar_t* const cases[][2] = {{L"C:\\dir\\x.exe", L"C:\\dir"},
                                     {L"C:\\x.exe", L"C:"},
                                     {L"\\name", L"\\name"},
                                     {L"plain", L"plain"},
                                     {L"", L""}};
  for (const auto& c : cases) {
    wchar_t path[32];
    lstrcpyW(path, c[0]);
    CutLastComponent(path);
    EXPECT_STREQ(c[1], path) << c[0];
  }
}

TEST(PathTest, JoinPathEmptiesAPathThatDoesNotFit) {
  wchar_t out[13];
  EXPECT_TRUE(JoinPath(out, 13, L"C:\\tmp", L"a.txt"));
  EXPECT_STREQ(L"C:\\tmp\\a.txt", out);
  EXPECT_TRUE(JoinPath(out, 13, L"C:\\", L"b"));
  EXPECT_STREQ(L"C:\\b", out);
  EXPECT_FALSE(JoinPath(out, 13, L"C:\\tmp", L"ab.txt"));
  EXPECT_STREQ(L"", out);
}

TEST(PathTest, ModulePathIsThisProgram) {
  wchar_t path[kModulePathSize];
  GetModulePath(path);
  wchar_t expected[MAX_PATH];
  GetModuleFileNameW(nullptr, expected, MAX_PATH);
  EXPECT_STREQ(expected, path);
}

TEST(PathTest, SpecialFoldersEndInABackslash) {
  wchar_t folder[kFolderPathSize];
  using Getter = bool (*)(wchar_t*);
  for (Getter get : {static_cast<Getter>(GetDocumentsFolder),
                     static_cast<Getter>(GetDesktopFolder),
                     static_cast<Getter>(GetProgramFilesFolder)}) {
    ASSERT_TRUE(get(folder));
    size_t n = wcslen(folder);
    ASSERT_GT(n, 3u);
    EXPECT_EQ(L'\\', folder[n - 1]);
    EXPECT_NE(L'\\', folder[n - 2]);
    EXPECT_TRUE(FolderExists(folder)) << folder;
  }
  ASSERT_TRUE(GetProgramsSubfolder(folder, L"Talvorn"));
  std::wstring programs(folder);
  EXPECT_EQ(L"\\Talvorn", programs.substr(programs.size() - 8));
}

}  // namespace
