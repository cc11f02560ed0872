// From a folder to the files to pack: the order, and what is refused.
#include <gtest/gtest.h>

#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <fstream>
#include <random>
#include <regex>
#include <sstream>
#include <thread>

#include "tools/archive_check.h"
#include "tools/entry_stream.h"
#include "tools/library_check.h"
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

// Text that compresses, and bytes that do not, of a given size.
std::string Mixed(size_t size, unsigned seed) {
  std::mt19937 random(seed);
  std::string text;
  while (text.size() < size) {
    text += "line " + std::to_string(random() % 1000) + " of the log; ";
    for (int i = 0; i < 8; ++i) text += static_cast<char>(random());
  }
  return text.substr(0, size);
}

// The stored streams of an archive, by entry.
std::vector<Bytes> Streams(const Bytes& archive) {
  std::vector<Bytes> streams;
  ArchiveReport report = InspectArchive(archive.data(), archive.size());
  for (const EntryInfo& entry : report.entries) {
    streams.emplace_back(archive.begin() + entry.dataOffset,
                         archive.begin() + entry.dataOffset + entry.storedSize);
  }
  return streams;
}

TEST(PackFolderTest, EveryLevelReadsBackAndTwelveIsTheSmallest) {
  TestFolder folder;
  folder.Write("zlib1.dll", kLibrary);
  const std::string content = Mixed(300000, 1);
  folder.Write("a.log", content);
  folder.Write("empty.txt", "");
  std::vector<PackItem> items = CollectFolder(folder.root());
  std::vector<size_t> sizes;
  PackOptions options;
  for (options.level = 0; options.level <= kMaxLevel; ++options.level) {
    Bytes archive = PackItems(items, options);
    ArchiveReport report = InspectArchive(archive.data(), archive.size());
    ASSERT_EQ(report.problem, "") << options.level;
    EXPECT_EQ(report.entries[1].inflatedSize, static_cast<int64_t>(content.size()));
    if (options.level > 0) {
      EXPECT_EQ(report.entries[2].storedSize, 8u) << options.level;
    }
    sizes.push_back(archive.size());
  }
  // Level 9 is zlib's own: the bytes the packer made before libdeflate.
  PackOptions nine;
  nine.level = 9;
  const Bytes raw(content.begin(), content.end());
  EXPECT_EQ(Streams(PackItems(items, nine))[1], DeflateLevel9(raw));
  EXPECT_LT(sizes[12], sizes[9]);
  EXPECT_EQ(Streams(PackItems(items))[1], MakeStream(raw.data(), raw.size(), 12));
}

// However many threads, and in whatever order they finish, the archive is
// the same; progress counts up to the totals.
TEST(PackFolderTest, ThreadsChangeNoByte) {
  TestFolder folder;
  folder.Write("zlib1.dll", kLibrary);
  uint64_t total = kLibrary.size();
  for (unsigned i = 0; i < 40; ++i) {
    const std::string content = Mixed(1000 + (i * 7919) % 60000, i);
    folder.Write("f" + std::to_string(i) + ".bin", content);
    total += content.size();
  }
  std::vector<PackItem> items = CollectFolder(folder.root());
  PackOptions one;
  one.threads = 1;
  PackOptions many;
  many.threads = 5;
  std::vector<PackProgress> seen;
  many.progress = [&](const PackProgress& done) { seen.push_back(done); };
  EXPECT_EQ(PackItems(items, one), PackItems(items, many));
  ASSERT_FALSE(seen.empty());
  for (size_t i = 1; i < seen.size(); ++i) {
    EXPECT_GT(seen[i].entries, seen[i - 1].entries);
    EXPECT_GT(seen[i].bytes, seen[i - 1].bytes);
  }
  EXPECT_EQ(seen.back().entries, 41u);
  EXPECT_EQ(seen.back().totalEntries, 41u);
  EXPECT_EQ(seen.back().bytes, total);
  EXPECT_EQ(seen.back().totalBytes, total);
}

TEST(PackFolderTest, RefusesABadLibraryOrAFileGoneBeforeItIsRead) {
  TestFolder folder;
  Bytes flipped = kLibraryBytes;
  flipped[0x210] ^= 1;
  folder.Write("zlib1.dll", std::string(flipped.begin(), flipped.end()));
  folder.Write("a.txt", "a");
  std::string refusal;
  try {
    PackItems(CollectFolder(folder.root()));
  } catch (const PackError& error) {
    refusal = error.what();
  }
  EXPECT_EQ(refusal.find("\"zlib1.dll\": its bytes do not match its PE checksum"), 0u) << refusal;
  PackOptions x64;
  x64.machine = kMachineX64;
  folder.Write("zlib1.dll", kLibrary);
  EXPECT_THROW(PackItems(CollectFolder(folder.root()), x64), PackError);

  // The first entry in the archive's order is named, whichever thread
  // met its failure first.
  for (int i = 0; i < 30; ++i) folder.Write("f" + std::to_string(100 + i), Mixed(20000, i));
  std::vector<PackItem> items = CollectFolder(folder.root());
  std::filesystem::remove(folder.root() / "f110");
  std::filesystem::remove(folder.root() / "f127");
  PackOptions four;
  four.threads = 4;
  EXPECT_THROW(
      try { PackItems(items, four); } catch (const PackError& error) {
        EXPECT_STREQ(error.what(), "\"f110\": cannot be opened");
        throw;
      },
      PackError);
}

// A file too large to hold is streamed through zlib: pieces end anywhere in
// the file, and the stream is zlib's whole-buffer one.
TEST(PackFolderTest, StreamsAFileInPieces) {
  TestFolder folder;
  for (size_t size : {size_t{0}, size_t{1} << 20, (size_t{5} << 19) + 3}) {
    const std::string content = Mixed(size, 3);
    std::filesystem::path path = folder.Write("big.bin", content);
    const Bytes raw(content.begin(), content.end());
    EXPECT_EQ(StreamFile(path, "big.bin", 9), DeflateLevel9(raw)) << size;
  }
  EXPECT_THROW(StreamFile(folder.root() / "none", "none", 9), PackError);
}

// Jobs finish in any order and are taken in theirs; the jobs not yet taken
// never hold more than the budget, though one alone may exceed it.
TEST(OrderedJobsTest, TakesInOrderWithinTheBudget) {
  const std::vector<uint64_t> sizes = {5, 1, 9, 2, 2, 20, 3, 3, 3, 1, 7, 4};
  std::mutex mutex;
  uint64_t held = 0, mostHeld = 0;
  std::vector<size_t> taken;
  OrderedJobs jobs;
  jobs.count = sizes.size();
  jobs.size = [&](size_t i) { return sizes[i]; };
  jobs.run = [&](size_t i) {
    {
      std::lock_guard<std::mutex> lock(mutex);
      held += sizes[i];
      mostHeld = std::max(mostHeld, held);
    }
    std::this_thread::sleep_for(std::chrono::milliseconds((i * 37) % 11));
    return Bytes(1, static_cast<uint8_t>(i));
  };
  jobs.take = [&](size_t i, Bytes&& result) {
    EXPECT_EQ(result, Bytes(1, static_cast<uint8_t>(i)));
    std::lock_guard<std::mutex> lock(mutex);
    held -= sizes[i];
    taken.push_back(i);
  };
  RunInOrder(jobs, 4, 10, nullptr);
  EXPECT_EQ(taken, (std::vector<size_t>{0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11}));
  EXPECT_EQ(mostHeld, 20u);  // job 5 alone

  // The first failure in job order is thrown, once every thread has ended.
  std::atomic<int> running{0};
  jobs.run = [&](size_t i) {
    ++running;
    std::this_thread::sleep_for(std::chrono::milliseconds(i == 3 ? 20 : 1));
    --running;
    if (i == 3 || i == 4) throw PackError("job " + std::to_string(i));
    return Bytes();
  };
  jobs.take = [](size_t, Bytes&&) {};
  try {
    RunInOrder(jobs, 3, 100, nullptr);
    ADD_FAILURE() << "no failure thrown";
  } catch (const PackError& error) {
    EXPECT_STREQ(error.what(), "job 3");
  }
  EXPECT_EQ(running, 0);
}

// Debian's own libraries carry a checksum: a flipped byte in their code shows.
TEST(LibraryCheckTest, JudgesDebiansZlib) {
  const struct {
    const char* path;
    uint16_t machine;
  } libraries[] = {{"/usr/i686-w64-mingw32/lib/zlib1.dll", kMachineX86},
                   {"/usr/x86_64-w64-mingw32/lib/zlib1.dll", kMachineX64}};
  for (const auto& library : libraries) {
    std::ifstream in(library.path, std::ios::binary);
    if (!in) GTEST_SKIP() << "no " << library.path;
    Bytes bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    EXPECT_EQ(CheckZlibLibrary(bytes.data(), bytes.size(), library.machine), "") << library.path;
    bytes[0x1000] ^= 0x10;  // in .text
    EXPECT_NE(CheckZlibLibrary(bytes.data(), bytes.size(), library.machine).find("checksum"),
              std::string::npos)
        << library.path;
  }
}

// The names judged are the ones the extractor's binding requires.
TEST(LibraryCheckTest, RequiresWhatTheBindingRequires) {
  std::ifstream in(TALVORN_ROOT "/compression/zlib_binding.cc");
  std::stringstream text;
  text << in.rdbuf();
  const std::string source = text.str();
  std::vector<std::string> required;
  const std::regex entry("\\{\"(\\w+)\", true\\}");
  for (auto it = std::sregex_iterator(source.begin(), source.end(), entry);
       it != std::sregex_iterator(); ++it) {
    required.push_back((*it)[1]);
  }
  EXPECT_EQ(required, RequiredZlibExports());
}

}  // namespace
