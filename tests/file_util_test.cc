#include "support/file_util.h"

#include <cstdlib>

#include "support/errors.h"
#include "support/log.h"
#include "tests/test_support.h"

namespace {

class FileUtilTest : public ExtractorTest {
 protected:
  void SetUp() override {
    ExtractorTest::SetUp();
    OpenExtractionLog(scratch.path().c_str());
  }
};

std::string Utf16Bytes(const std::wstring& text) {
  return std::string(reinterpret_cast<const char*>(text.c_str()),
                     text.size() * 2);
}

TEST_F(FileUtilTest, ReadFileContentsAddsZerosSoTextsReadDirectly) {
  std::wstring path = scratch / L"InstalledApp.txt";
  std::wstring text = L"\xFEFF" L"C:\\Program Files\\x.exe";
  WriteBytes(path, Utf16Bytes(text));
  uint8_t* block = ReadFileContents(path.c_str());
  ASSERT_NE(nullptr, block);
  EXPECT_EQ(text, reinterpret_cast<const wchar_t*>(block));  // BOM kept
  std::free(block);

  WriteBytes(path, "odd");  // 8-bit text, odd length
  block = ReadFileContents(path.c_str());
  ASSERT_NE(nullptr, block);
  EXPECT_STREQ("odd", reinterpret_cast<const char*>(block));
  // Read as 16-bit text it still ends inside the block.
  EXPECT_EQ(2, lstrlenW(reinterpret_cast<const wchar_t*>(block)));
  std::free(block);
  EXPECT_TRUE(boxes.boxes.empty());
}

TEST_F(FileUtilTest, ReadFileContentsReportsEachFailureWithTheErrorIcon) {
  std::wstring missing = scratch / L"missing.txt";
  std::wstring empty = scratch / L"empty.txt";
  WriteBytes(empty, "");
  EXPECT_EQ(nullptr, ReadFileContents(missing.c_str()));
  EXPECT_EQ(nullptr, ReadFileContents(empty.c_str()));
  EXPECT_EQ((std::vector<std::wstring>{
                L"Could not open file \"" + missing + L"\"",
                L"ReadFileContents empty"}),
            boxes.Texts());
  EXPECT_EQ(UINT(MB_OK | MB_ICONERROR), boxes.boxes[1].flags);
  EXPECT_EQ(1, errorShown);
}

TEST_F(FileUtilTest, FileExistsOnlyForFilesNobodyHoldsOpen) {
  std::wstring path = scratch / L"cancel.txt";
  EXPECT_FALSE(FileExists(path.c_str()));
  WriteBytes(path, "");
  EXPECT_TRUE(FileExists(path.c_str()));
  EXPECT_FALSE(FileExists(scratch.path().c_str()));  // a folder
  HANDLE held = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ,
                            nullptr, OPEN_EXISTING, 0, nullptr);
  ASSERT_NE(INVALID_HANDLE_VALUE, held);
  EXPECT_FALSE(FileExists(path.c_str()));
  CloseHandle(held);
  EXPECT_TRUE(FileExists(path.c_str()));
  EXPECT_TRUE(FolderExists(scratch.path().c_str()));
  EXPECT_FALSE(FolderExists(path.c_str()));
}

TEST_F(FileUtilTest, WriteOrFailRaisesWithItsLabel) {
  std::wstring path = scratch / L"readonly.bin";
  WriteBytes(path, "x");
  HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, 0, nullptr,
                            OPEN_EXISTING, 0, nullptr);
  int code = 0;
  try {
    WriteOrFail("abc", 3, file, "Writing raw data");
  } catch (CException* e) {
    code = e->code;
  }
  CloseHandle(file);
  EXPECT_EQ(-1, code);
  ASSERT_EQ(1u, boxes.boxes.size());
  EXPECT_EQ(L"Error writing Writing raw data", boxes.boxes[0].text);
  EXPECT_EQ(UINT(MB_OK), boxes.boxes[0].flags);
}

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
