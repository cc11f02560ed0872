// Removal of tmp-n: depth first, silent, no retry.
#include "completion/delete_tree.h"

#include "tests/test_support.h"

namespace {

class DeleteTreeTest : public ExtractorTest {
 protected:
  std::wstring Make(const std::wstring& relative, bool folder = false) {
    std::wstring path = scratch / relative;
    if (folder) {
      CreateDirectoryW(path.c_str(), nullptr);
    } else {
      WriteBytes(path, "data");
    }
    return path;
  }
};

TEST_F(DeleteTreeTest, RemovesATreeCompletelyAndSilently) {
  Make(L"tmp-1", true);
  Make(L"tmp-1\\zlib1.dll");
  Make(L"tmp-1\\Talvorn", true);
  Make(L"tmp-1\\Talvorn\\Templates", true);
  Make(L"tmp-1\\Talvorn\\Templates\\a.txt");
  Make(L"tmp-1\\Talvorn\\b.txt");
  Make(L"tmp-1\\empty", true);
  EXPECT_NE(0, DeleteDirectoryTree((scratch / L"tmp-1").c_str()));
  EXPECT_FALSE(PathExists(scratch / L"tmp-1"));
  EXPECT_TRUE(boxes.boxes.empty());
}

TEST_F(DeleteTreeTest, NamesStartingWithADotAreLeftAndKeepTheirFolders) {
  Make(L"tmp-1", true);
  Make(L"tmp-1\\.hidden");
  Make(L"tmp-1\\.dir", true);
  Make(L"tmp-1\\.dir\\inside.txt");
  Make(L"tmp-1\\plain.txt");
  EXPECT_EQ(0, DeleteDirectoryTree((scratch / L"tmp-1").c_str()));
  EXPECT_TRUE(PathExists(scratch / L"tmp-1\\.hidden"));
  EXPECT_TRUE(PathExists(scratch / L"tmp-1\\.dir\\inside.txt"));
  EXPECT_FALSE(PathExists(scratch / L"tmp-1\\plain.txt"));
}

TEST_F(DeleteTreeTest, FilesThatCannotGoStayWithTheFoldersAboveThem) {
  Make(L"tmp-1", true);
  Make(L"tmp-1\\sub", true);
  std::wstring readOnly = Make(L"tmp-1\\sub\\readonly.txt");
  SetFileAttributesW(readOnly.c_str(), FILE_ATTRIBUTE_READONLY);
  std::wstring held = Make(L"tmp-1\\held.txt");
  HANDLE handle = CreateFileW(held.c_str(), GENERIC_READ, FILE_SHARE_READ,
                              nullptr, OPEN_EXISTING, 0, nullptr);
  Make(L"tmp-1\\other.txt");
  EXPECT_EQ(0, DeleteDirectoryTree((scratch / L"tmp-1").c_str()));
  EXPECT_TRUE(PathExists(readOnly));
  EXPECT_TRUE(PathExists(held));
  EXPECT_FALSE(PathExists(scratch / L"tmp-1\\other.txt"));
  CloseHandle(handle);
  SetFileAttributesW(readOnly.c_str(), FILE_ATTRIBUTE_NORMAL);
}

TEST_F(DeleteTreeTest, NothingHappensForAMissingOrAnEmptyPath) {
  EXPECT_EQ(0, DeleteDirectoryTree((scratch / L"missing").c_str()));
  // An empty path would name the root of the current drive: stand at the
  // root of drive T:, which the test command maps to a scratch folder, so that
  // even a failure here stays inside it.
  if (!PathExists(L"T:\\precious.txt")) {
    FAIL() << "drive T: is not mapped: run tests/checks/make_fixtures.sh";
  }
  wchar_t previous[MAX_PATH];
  GetCurrentDirectoryW(MAX_PATH, previous);
  ASSERT_TRUE(SetCurrentDirectoryW(L"T:\\"));
  EXPECT_EQ(0, DeleteDirectoryTree(L""));
  SetCurrentDirectoryW(previous);
  EXPECT_TRUE(PathExists(L"T:\\precious.txt"));
}

TEST_F(DeleteTreeTest, FileSearchPassesOverDotsAndStartsAgainAtIndexOne) {
  Make(L"dir", true);
  Make(L"dir\\a.txt");
  std::wstring pattern = scratch / L"dir\\*.*";
  FileSearch search;
  FileSearchInit(&search);
  wchar_t name[kTreePathSize];
  int isEntry = 0, isDirectory = 0, entries = 0, total = 0;
  for (int round = 0; round < 2; ++round) {
    for (int index = 1; FileSearchNext(&search, pattern.c_str(), index, name,
                                       &isEntry, &isDirectory);
         ++index) {
      ++total;
      if (isEntry) {
        ++entries;
        EXPECT_STREQ(L"a.txt", name);
        EXPECT_EQ(0, isDirectory);
      }
    }
  }
  EXPECT_EQ(2, entries);
  EXPECT_EQ(6, total);  // ".", ".." and a.txt, twice
  FileSearchClose(&search);
  FileSearchClose(&search);  // harmless
}

// A tree prepared by tests/checks/make_fixtures.sh with a Unix symbolic link
// to a folder outside it, which Win32 sees as a reparse point. (Wine cannot
// remove such a link through Win32, so only the target's safety and the rest
// of the tree are checked here.)
TEST_F(DeleteTreeTest, LinksAreRemovedWithoutTouchingWhatTheyPointAt) {
  std::wstring fixture = ProgramFolder() + L"\\link-fixture";
  if (!PathExists(fixture + L"\\tree\\folder-link")) {
    FAIL() << "no link fixture: run tests/checks/make_fixtures.sh";
  }
  DWORD attributes = GetFileAttributesW((fixture + L"\\tree\\folder-link").c_str());
  ASSERT_NE(0u, attributes & FILE_ATTRIBUTE_REPARSE_POINT);
  DeleteDirectoryTree((fixture + L"\\tree").c_str());
  EXPECT_FALSE(PathExists(fixture + L"\\tree\\sub"));
  EXPECT_TRUE(PathExists(fixture + L"\\outside\\keep.txt"));
  EXPECT_TRUE(PathExists(fixture + L"\\outside\\sub\\keep-too.txt"));
}

}  // namespace
