// Removal of tmp-n: depth first, silent, no retry.
#include "completion/delete_tree.h"

#include <algorithm>
#include <utility>
#include <vector>

#include "support/file_entry.h"
#include "support/seams.h"
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

// A cloud placeholder (as OneDrive keeps Desktop and Documents) shows the
// reparse attribute with a tag that redirects no name: it is walked and
// removed like any folder. A junction's tag still keeps the walk out. (Wine
// makes neither: the folder's tag comes from the seam.)
TEST_F(DeleteTreeTest, OnlyReparsePointsThatRedirectANameAreLinks) {
  static DWORD tag = 0;
  seams::attributeTag = [](HANDLE entry, FILE_ATTRIBUTE_TAG_INFO* info) {
    bool read = ReadAttributeTag(entry, info);
    wchar_t path[MAX_PATH] = {};
    GetFinalPathNameByHandleW(entry, path, MAX_PATH, 0);
    std::wstring name(path);
    if (name.size() > 8 && name.substr(name.size() - 8) == L"\\Talvorn") {
      info->FileAttributes |= FILE_ATTRIBUTE_REPARSE_POINT;
      info->ReparseTag = tag;
    }
    return read;
  };
  const DWORD kCloudPlaceholder = 0x9000601A;  // IO_REPARSE_TAG_CLOUD_6
  for (DWORD reparse : {kCloudPlaceholder, DWORD{IO_REPARSE_TAG_MOUNT_POINT}}) {
    SCOPED_TRACE(reparse);
    tag = reparse;
    Make(L"tmp-1", true);
    Make(L"tmp-1\\Talvorn", true);
    Make(L"tmp-1\\Talvorn\\a.txt");
    bool placeholder = reparse == kCloudPlaceholder;
    EXPECT_EQ(placeholder, DeleteDirectoryTree((scratch / L"tmp-1").c_str()) != 0);
    EXPECT_NE(placeholder, PathExists(scratch / L"tmp-1\\Talvorn\\a.txt"));
  }
}

TEST_F(DeleteTreeTest, NamesStartingWithADotAreRemovedLikeAnyOther) {
  Make(L"tmp-1", true);
  Make(L"tmp-1\\.version");
  Make(L"tmp-1\\..data");
  Make(L"tmp-1\\.dir", true);
  Make(L"tmp-1\\.dir\\inside.txt");
  Make(L"tmp-1\\plain.txt");
  EXPECT_NE(0, DeleteDirectoryTree((scratch / L"tmp-1").c_str()));
  EXPECT_FALSE(PathExists(scratch / L"tmp-1"));
}

TEST_F(DeleteTreeTest, ReadOnlyFilesGoButHeldAndSharedOnesStay) {
  Make(L"tmp-1", true);
  Make(L"tmp-1\\sub", true);
  std::wstring readOnly = Make(L"tmp-1\\sub\\readonly.txt");
  SetFileAttributesW(readOnly.c_str(), FILE_ATTRIBUTE_READONLY);
  std::wstring held = Make(L"tmp-1\\held.txt");
  HANDLE handle = CreateFileW(held.c_str(), GENERIC_READ, FILE_SHARE_READ,
                              nullptr, OPEN_EXISTING, 0, nullptr);
  // A hard link to a read-only file outside: the mark belongs to that file
  // too, so it is not cleared and the link stays.
  std::wstring outside = Make(L"outside.txt");
  SetFileAttributesW(outside.c_str(), FILE_ATTRIBUTE_READONLY);
  std::wstring linked = scratch / L"tmp-1\\linked.txt";
  ASSERT_TRUE(CreateHardLinkW(linked.c_str(), outside.c_str(), nullptr));
  Make(L"tmp-1\\other.txt");
  EXPECT_EQ(0, DeleteDirectoryTree((scratch / L"tmp-1").c_str()));
  EXPECT_FALSE(PathExists(scratch / L"tmp-1\\sub"));
  EXPECT_TRUE(PathExists(held));
  EXPECT_TRUE(PathExists(linked));
  EXPECT_EQ("data", ReadBytes(outside));
  EXPECT_NE(0u, GetFileAttributesW(outside.c_str()) & FILE_ATTRIBUTE_READONLY);
  EXPECT_FALSE(PathExists(scratch / L"tmp-1\\other.txt"));
  CloseHandle(handle);
  SetFileAttributesW(outside.c_str(), FILE_ATTRIBUTE_NORMAL);

  // Windows refuses to remove a read-only folder, Wine keeps no such mark:
  // the removal through the folder's own handle is tried directly. An empty
  // folder goes; one that still holds something stays.
  std::wstring empty = Make(L"readonly-folder", true);
  SetFileAttributesW(empty.c_str(), FILE_ATTRIBUTE_READONLY);
  EXPECT_TRUE(DeleteReadOnlyEntry(empty.c_str()));
  EXPECT_FALSE(PathExists(empty));
  std::wstring full = Make(L"full-folder", true);
  Make(L"full-folder\\inside.txt");
  EXPECT_FALSE(DeleteReadOnlyEntry(full.c_str()));
  EXPECT_EQ("data", ReadBytes(full + L"\\inside.txt"));
}

// A folder others could change is emptied through handles, and what stays is
// told. Wine has no POSIX-semantics deletion (it answers 87) and refuses to
// delete a read-only file (5), as Windows before 10 does: a lone read-only
// file goes by clearing its mark on its own handle, but not a second name of
// another file, whose mark that would clear too.
TEST_F(DeleteTreeTest, AFolderEmptiedThroughHandlesTellsWhatStays) {
  Make(L"old", true);
  Make(L"old\\sub", true);
  Make(L"old\\sub\\a.txt");
  std::wstring readOnly = Make(L"old\\read-only.txt");
  SetFileAttributesW(readOnly.c_str(), FILE_ATTRIBUTE_READONLY);
  std::wstring outside = Make(L"outside.txt");
  SetFileAttributesW(outside.c_str(), FILE_ATTRIBUTE_READONLY);
  std::wstring linked = scratch / L"old\\linked.txt";
  ASSERT_TRUE(CreateHardLinkW(linked.c_str(), outside.c_str(), nullptr));
  Make(L"old\\busy", true);
  std::wstring busy = Make(L"old\\busy\\held.txt");
  HANDLE handle = CreateFileW(busy.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                              OPEN_EXISTING, 0, nullptr);
  static std::vector<std::pair<std::wstring, DWORD>> stayed;
  stayed.clear();
  HeldFolder folder = HeldAt(scratch / L"old");
  EmptyHeldFolder(folder, [](const wchar_t* path, const wchar_t* name, DWORD error) {
    stayed.emplace_back(std::wstring(path) + L"\\" + name, error);
  });
  ReleaseHeldFolder(&folder);
  CloseHandle(handle);
  EXPECT_FALSE(PathExists(scratch / L"old\\sub"));
  EXPECT_FALSE(PathExists(readOnly));
  EXPECT_EQ("data", ReadBytes(linked));
  for (const std::wstring& name : {linked, outside}) {
    EXPECT_NE(0u, GetFileAttributesW(name.c_str()) & FILE_ATTRIBUTE_READONLY);
  }
  SetFileAttributesW(outside.c_str(), FILE_ATTRIBUTE_NORMAL);
  std::sort(stayed.begin(), stayed.end());
  ASSERT_EQ(3u, stayed.size());
  EXPECT_EQ(scratch / L"old\\busy", stayed[0].first);
  EXPECT_EQ(scratch / L"old\\busy\\held.txt", stayed[1].first);
  EXPECT_EQ(DWORD{ERROR_SHARING_VIOLATION}, stayed[1].second);
  EXPECT_EQ(linked, stayed[2].first);
}

// The walk lists each folder through its handle and deletes relative to it:
// a folder whose listing pattern would not fit a 256-unit buffer, and a child
// whose path would not, go like any other (the buffers bound only messages).
TEST_F(DeleteTreeTest, PathsLongerThanThe256UnitBuffersGoToo) {
  std::wstring deep = scratch.path() + L"\\";
  deep += std::wstring(252 - deep.size(), L'p');
  CreateDirectoryW(deep.c_str(), nullptr);
  WriteBytes(deep + L"\\in.txt", "data");
  EXPECT_NE(0, DeleteDirectoryTree(deep.c_str()));
  EXPECT_FALSE(PathExists(deep));
  std::wstring folder = scratch.path() + L"\\";
  folder += std::wstring(240 - folder.size(), L'c');
  CreateDirectoryW(folder.c_str(), nullptr);
  WriteBytes(folder + L"\\" + std::wstring(20, L'n'), "data");
  WriteBytes(folder + L"\\short.txt", "data");
  EXPECT_NE(0, DeleteDirectoryTree(folder.c_str()));
  EXPECT_FALSE(PathExists(folder));
}

// With the folder tmp-n was made in, tmp-n goes through it, by its name
// there: its path is only a message, and one that leads somewhere else by
// now (a link above re-pointed) neither keeps tmp-n nor costs the other
// folder anything.
TEST_F(DeleteTreeTest, ATempDirectoryGoesThroughTheFolderItWasMadeIn) {
  std::wstring base = scratch / L"base";
  std::wstring other = scratch / L"other";
  for (const std::wstring& folder : {base, base + L"\\tmp-1", other, other + L"\\tmp-1"}) {
    CreateDirectoryW(folder.c_str(), nullptr);
  }
  WriteBytes(base + L"\\tmp-1\\a.txt", "a");
  WriteBytes(other + L"\\tmp-1\\keep.txt", "keep");
  HeldFolder parent = HeldAt(base);
  HeldFolder tmp = HeldAt(base + L"\\tmp-1");
  lstrcpyW(tmp.path, (other + L"\\tmp-1").c_str());
  EXPECT_EQ(1, DeleteHeldDirectoryTree(&tmp, &parent));
  ReleaseHeldFolder(&parent);
  EXPECT_FALSE(PathExists(base + L"\\tmp-1"));
  EXPECT_EQ("keep", ReadBytes(other + L"\\tmp-1\\keep.txt"));
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
  // Given a link itself, as tmp-n would be if someone swapped one in, the
  // walk does not go through it.
  std::wstring link = fixture + L"\\tree\\folder-link";
  EXPECT_EQ(0, DeleteDirectoryTree(link.c_str()));
  EXPECT_FALSE(DeleteReadOnlyEntry(link.c_str()));
  EXPECT_TRUE(PathExists(fixture + L"\\outside\\keep.txt"));
  DeleteDirectoryTree((fixture + L"\\tree").c_str());
  EXPECT_FALSE(PathExists(fixture + L"\\tree\\sub"));
  EXPECT_TRUE(PathExists(fixture + L"\\outside\\keep.txt"));
  EXPECT_TRUE(PathExists(fixture + L"\\outside\\sub\\keep-too.txt"));
  EXPECT_NE(0u, GetFileAttributesW((fixture + L"\\outside\\readonly.txt").c_str()) &
                    FILE_ATTRIBUTE_READONLY);
}

}  // namespace
