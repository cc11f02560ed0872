// From a folder to the files to pack: the order, and what is refused.
#include <gtest/gtest.h>

#include <unistd.h>

#include <cstring>

#include "tools/archive_check.h"
#include "tools/pack_folder.h"
#include "tools/tests/pe_image.h"
#include "tools/tests/test_folder.h"

namespace {

const Bytes kLibraryBytes = TestLibrary();
const std::string kLibrary(kLibraryBytes.begin(), kLibraryBytes.end());

std::vector<std::string> Names(const std::vector<PackItem>& items) {
  std::vector<std::string> names;
  for (const PackItem& item : items) names.push_back(item.name);
  return names;
}

// The message of the refusal, or "" when the folder is accepted.
std::string Refusal(const TestFolder& folder, const std::string* list = nullptr) {
  try {
    std::vector<PackItem> items = CollectFolder(folder.root());
    if (list) OrderByList(items, *list);
  } catch (const PackError& error) {
    return error.what();
  }
  return "";
}

TEST(PackFolderTest, PacksNestedFoldersInDefaultOrder) {
  TestFolder folder;
  folder.Write("b.txt", "bee");
  folder.Write("Talvorn/Templates/Custom Template.txt", "template");
  folder.Write("Talvorn/Cover Pages/empty.txt", "");
  folder.Write("A.txt", "upper case sorts first");
  folder.Write(".version", "a dot-name is a file like any other");
  folder.Write("zlib1.dll", kLibrary);
  std::filesystem::create_directories(folder.root() / "Empty/Deeper");

  std::vector<PackItem> items = CollectFolder(folder.root());
  EXPECT_EQ(Names(items), (std::vector<std::string>{
                              "zlib1.dll", ".version", "A.txt",
                              "Talvorn\\Cover Pages\\empty.txt",
                              "Talvorn\\Templates\\Custom Template.txt", "b.txt"}));
  Bytes archive = PackItems(items);
  ArchiveReport report = InspectArchive(archive.data(), archive.size());
  ASSERT_EQ(report.problem, "");
  ASSERT_EQ(report.entries.size(), 6u);
  EXPECT_EQ(report.entries[0].storedSize, kLibrary.size());
  EXPECT_EQ(report.entries[3].storedSize, 8u);  // the empty file's stream
  EXPECT_EQ(report.entries[4].inflatedSize, 8);
}

TEST(PackFolderTest, FollowsAnOrderList) {
  TestFolder folder;
  folder.Write("zlib1.dll", "MZ");
  folder.Write("z.txt", "z");
  folder.Write("sub/a.txt", "a");
  std::vector<PackItem> items = CollectFolder(folder.root());
  // Slashes or backslashes, CRLF line ends and blank lines are all fine.
  EXPECT_EQ(Names(OrderByList(items, "zlib1.dll\r\nz.txt\r\n\r\nsub/a.txt")),
            (std::vector<std::string>{"zlib1.dll", "z.txt", "sub\\a.txt"}));
  EXPECT_EQ(Names(OrderByList(items, "zlib1.dll\nsub\\a.txt\nz.txt\n")),
            (std::vector<std::string>{"zlib1.dll", "sub\\a.txt", "z.txt"}));

  const std::string missing = "zlib1.dll\nz.txt\n";
  EXPECT_EQ(Refusal(folder, &missing),
            "\"sub\\a.txt\" is in the folder but not in the list");
  const std::string extra = "zlib1.dll\nz.txt\nsub/a.txt\nnew.txt\n";
  EXPECT_EQ(Refusal(folder, &extra),
            "the list names \"new.txt\", which is not a file in the folder");
  const std::string twice = "zlib1.dll\nz.txt\nz.txt\nsub/a.txt\n";
  EXPECT_EQ(Refusal(folder, &twice), "the list names \"z.txt\" twice");
  const std::string late = "z.txt\nzlib1.dll\nsub/a.txt\n";
  EXPECT_EQ(Refusal(folder, &late),
            "the list must name \"zlib1.dll\" first: the extractor loads it before it "
            "inflates anything");
}

TEST(PackFolderTest, RefusesNamesTheExtractorRefuses) {
  const struct {
    const char* file;
    const char* refusal;
  } cases[] = {
      {"dir./a.txt", "\"dir.\\a.txt\": a component of the name ends in a dot or a blank"},
      {"sub/CON.txt", "\"sub\\CON.txt\": a component of the name is a device name"},
      {"a:b.txt", "\"a:b.txt\": the name has a character that no file name may hold"},
      {"caf\xc3\xa9.txt",
       "\"caf\xc3\xa9.txt\": the name has a byte that is not printable ASCII"},
      {"back\\slash.txt", "\"back\\slash.txt\": a backslash in a file or folder name"},
      {"ZLIB1.dll", "\"ZLIB1.dll\" and \"zlib1.dll\" differ only in letter case: Windows "
                    "would keep only one"},
      {"Zlib1.dll/x.txt", "\"Zlib1.dll\\x.txt\" needs a folder where the file "
                          "\"zlib1.dll\" is"},
  };
  for (const auto& test : cases) {
    TestFolder folder;
    folder.Write("zlib1.dll", "MZ");
    folder.Write(test.file, "x");
    std::string refusal = Refusal(folder);
    EXPECT_EQ(refusal.substr(0, std::strlen(test.refusal)), test.refusal) << refusal;
  }
  TestFolder tooLong;
  tooLong.Write("zlib1.dll", "MZ");
  tooLong.Write(std::string(200, 'd') + "/" + std::string(60, 'f'), "x");
  EXPECT_NE(Refusal(tooLong).find("longer than 255 bytes"), std::string::npos);
}

TEST(PackFolderTest, RefusesFoldersWithoutTheLibraryOrWithLinks) {
  const std::string noLibrary =
      "no \"zlib1.dll\" at the top of the folder: the extractor needs it to inflate "
      "every other file";
  TestFolder empty;
  EXPECT_EQ(Refusal(empty), noLibrary);
  TestFolder nested;
  nested.Write("bin/zlib1.dll", "MZ");
  EXPECT_EQ(Refusal(nested), noLibrary);

  TestFolder linked;
  linked.Write("zlib1.dll", "MZ");
  ASSERT_EQ(symlink("/etc", (linked.root() / "etc").c_str()), 0);
  EXPECT_EQ(Refusal(linked), "\"etc\": a symbolic link");
}

TEST(PackFolderTest, SameFilesGiveTheSameArchive) {
  // Neither the order in which files were made nor their times may count.
  TestFolder first, second;
  first.Write("zlib1.dll", kLibrary);
  first.Write("a/x.txt", "x");
  first.Write("b.txt", "b");
  second.Write("b.txt", "b");
  second.Write("a/x.txt", "x");
  second.Write("zlib1.dll", kLibrary);
  EXPECT_EQ(PackItems(CollectFolder(first.root())),
            PackItems(CollectFolder(second.root())));
}

}  // namespace
