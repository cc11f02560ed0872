// The host extraction's writing step under what only a test in the same
// process can arrange: links planted below the folder before and between
// entries, foreign files in its folders, and a stream that fails mid-write.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>

#include <string>
#include <utility>
#include <vector>

#include "tools/extract_folder.h"
#include "tools/pack_error.h"
#include "tools/tests/test_folder.h"

namespace {

namespace fs = std::filesystem;

Bytes Text(const std::string& text) { return Bytes(text.begin(), text.end()); }

Landing At(std::vector<std::string> folders, std::string file, long replaces = -1) {
  Landing landing;
  landing.folders = std::move(folders);
  landing.file = std::move(file);
  landing.replaces = replaces;
  return landing;
}

std::string Content(const fs::path& path) {
  Bytes bytes = TestFolder::Read(path);
  return std::string(bytes.begin(), bytes.end());
}

// The writer's root is out/; nothing in outside/ may ever change.
class FolderWriterTest : public ::testing::Test {
 protected:
  void SetUp() override {
    fs::create_directories(out);
    folder.Write("outside/target.txt", "outside");
    root = open(out.c_str(), O_RDONLY | O_DIRECTORY);
    ASSERT_GE(root, 0);
  }
  void TearDown() override { close(root); }

  // The message of the refusal, or "" when the entry is written.
  std::string Write(FolderWriter* writer, const Landing& landing, const std::string& data,
                    bool raw = true) {
    const Bytes bytes = Text(data);
    try {
      writer->Write(landing, bytes.data(), static_cast<uint32_t>(bytes.size()), raw);
    } catch (const PackError& error) {
      return error.what();
    }
    return "";
  }

  TestFolder folder;
  const fs::path out = folder.root() / "out";
  const fs::path outside = folder.root() / "outside";
  int root = -1;
};

TEST_F(FolderWriterTest, NeverWritesThroughALink) {
  FolderWriter writer(root, out);
  ASSERT_EQ(symlink(outside.c_str(), (out / "Docs").c_str()), 0);
  EXPECT_EQ(Write(&writer, At({"Docs"}, "target.txt"), "through the folder link"),
            "cannot open the folder \"" + (out / "Docs").string() + "\": Not a directory");

  // A link put in place of a file that an earlier entry made, which a later
  // entry replaces.
  EXPECT_EQ(Write(&writer, At({}, "a.txt"), "first"), "");
  ASSERT_EQ(unlink((out / "a.txt").c_str()), 0);
  ASSERT_EQ(symlink((outside / "target.txt").c_str(), (out / "a.txt").c_str()), 0);
  EXPECT_EQ(Write(&writer, At({}, "a.txt", 0), "through the file link"),
            "cannot create \"" + (out / "a.txt").string() +
                "\": Too many levels of symbolic links");

  // A file that no entry made is not replaced.
  folder.Write("out/theirs.txt", "theirs");
  EXPECT_EQ(Write(&writer, At({}, "theirs.txt"), "ours"),
            "cannot create \"" + (out / "theirs.txt").string() + "\": File exists");
  EXPECT_EQ(Content(out / "theirs.txt"), "theirs");
  EXPECT_EQ(TestFolder::Tree(outside), (std::map<std::string, std::string>{
                                           {"target.txt", "outside"}}));
}

TEST_F(FolderWriterTest, RemovesOnlyWhatItMadeAndNothingThroughALink) {
  folder.Write("out/before.txt", "there before");
  FolderWriter writer(root, out);
  EXPECT_EQ(Write(&writer, At({"Sub"}, "a.txt"), "a"), "");
  EXPECT_EQ(Write(&writer, At({"Sub", "Deep"}, "b.txt"), "b"), "");
  EXPECT_EQ(Write(&writer, At({"Kept"}, "c.txt"), "c"), "");
  EXPECT_EQ(Write(&writer, At({"Gone"}, "d.txt"), "d"), "");
  // A stream that fails keeps zlib's own words; its file is made all the same.
  EXPECT_EQ(Write(&writer, At({"Gone"}, "bad.txt"), "plain text", false),
            "\"" + (out / "Gone" / "bad.txt").string() +
                "\": the zlib stream is damaged (incorrect header check)");
  EXPECT_TRUE(fs::exists(out / "Gone" / "bad.txt"));

  // Someone else's file in a folder made here, and a folder made here moved
  // away with a link left in its place.
  folder.Write("out/Kept/theirs.txt", "theirs");
  fs::rename(out / "Sub", outside / "Sub");
  ASSERT_EQ(symlink((outside / "Sub").c_str(), (out / "Sub").c_str()), 0);
  writer.RemoveMade();

  EXPECT_EQ(TestFolder::Tree(outside), (std::map<std::string, std::string>{
                                           {"Sub", "/"},
                                           {"Sub/Deep", "/"},
                                           {"Sub/Deep/b.txt", "b"},
                                           {"Sub/a.txt", "a"},
                                           {"target.txt", "outside"},
                                       }));
  EXPECT_TRUE(fs::is_symlink(out / "Sub"));
  fs::remove(out / "Sub");
  EXPECT_EQ(TestFolder::Tree(out), (std::map<std::string, std::string>{
                                       {"Kept", "/"},
                                       {"Kept/theirs.txt", "theirs"},
                                       {"before.txt", "there before"},
                                   }));
}

}  // namespace
