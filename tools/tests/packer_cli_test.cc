// The talvorn-pack command as the build runs it: exit codes, output files
// and messages.
#include <gtest/gtest.h>

#include <stdio.h>
#include <sys/wait.h>

#include "tools/tests/test_folder.h"

namespace {

struct Outcome {
  int exitCode;
  std::string out;  // stdout and stderr together
};

Outcome Pack(const std::string& arguments) {
  std::string command = std::string(TALVORN_PACK_EXE) + " " + arguments + " 2>&1";
  FILE* pipe = popen(command.c_str(), "r");
  Outcome run{-1, ""};
  char buffer[4096];
  size_t n;
  while ((n = fread(buffer, 1, sizeof buffer, pipe)) > 0) run.out.append(buffer, n);
  int status = pclose(pipe);
  if (WIFEXITED(status)) run.exitCode = WEXITSTATUS(status);
  return run;
}

std::string Quote(const std::filesystem::path& path) { return "'" + path.string() + "'"; }

TEST(PackerCliTest, PackVerifyListRoundTrip) {
  TestFolder folder, out;
  folder.Write("zlib1.dll", "MZ library");
  folder.Write("Talvorn/Templates/Custom Template.txt", "template");
  folder.Write("empty.txt", "");
  std::filesystem::path archive = out.root() / "payload.bin";

  Outcome pack = Pack("pack " + Quote(folder.root()) + " " + Quote(archive));
  EXPECT_EQ(pack.exitCode, 0) << pack.out;
  EXPECT_EQ(pack.out, "");
  Outcome verify = Pack("verify " + Quote(archive));
  EXPECT_EQ(verify.exitCode, 0);
  EXPECT_EQ(verify.out, "OK 3 entries\n");
  Outcome list = Pack("list " + Quote(archive));
  EXPECT_EQ(list.exitCode, 0);
  // Bytewise order: upper case sorts before lower case.
  EXPECT_EQ(list.out.substr(0, list.out.find("zlib\t", 20)),
            "zlib1.dll\traw\t10\t10\nTalvorn\\Templates\\Custom Template.txt\t");
  EXPECT_EQ(list.out.substr(list.out.size() - 19), "empty.txt\tzlib\t8\t0\n");

  // With a list file: the order it gives, and the same bytes every time.
  std::filesystem::path order = out.Write("order.txt",
      "zlib1.dll\nempty.txt\nTalvorn/Templates/Custom Template.txt\n");
  std::filesystem::path again = out.root() / "again.bin";
  std::string withList = " --order " + Quote(order);
  ASSERT_EQ(Pack("pack " + Quote(folder.root()) + " " + Quote(archive) + withList).exitCode, 0);
  ASSERT_EQ(Pack("pack " + Quote(folder.root()) + " " + Quote(again) + withList).exitCode, 0);
  EXPECT_EQ(TestFolder::Read(archive), TestFolder::Read(again));
  std::string listed = Pack("list " + Quote(archive)).out;
  EXPECT_EQ(listed.substr(0, listed.find("Talvorn")),
            "zlib1.dll\traw\t10\t10\nempty.txt\tzlib\t8\t0\n");
}

TEST(PackerCliTest, RefusalLeavesNoArchive) {
  TestFolder folder, out;
  folder.Write("zlib1.dll", "MZ");
  folder.Write("nul.txt", "x");
  std::filesystem::path archive = out.root() / "payload.bin";
  Outcome pack = Pack("pack " + Quote(folder.root()) + " " + Quote(archive));
  EXPECT_EQ(pack.exitCode, 1);
  EXPECT_EQ(pack.out,
            "talvorn-pack: \"nul.txt\": a component of the name is a device name; the "
            "extractor would refuse it\n");
  EXPECT_FALSE(std::filesystem::exists(archive));
  EXPECT_TRUE(std::filesystem::is_empty(out.root()));

  // Packing a folder into itself would swallow the old archive next time.
  EXPECT_EQ(Pack("pack " + Quote(folder.root()) + " " + Quote(folder.root() / "p.bin")).out,
            "talvorn-pack: the archive may not be written inside the folder\n");
  EXPECT_EQ(Pack("pack " + Quote(folder.root())).exitCode, 2);
}

TEST(PackerCliTest, VerifyAndListReportBrokenArchives) {
  TestFolder folder;
  ArchiveWriter writer;
  writer.AddFile("zlib1.dll", Bytes{'M', 'Z'});
  writer.AppendEntry(4, "a.txt", Bytes{1, 2, 3, 4});
  writer.AppendEntry(99, "b.txt", Bytes{});
  writer.AppendTrailer();
  std::string broken(writer.bytes().begin(), writer.bytes().end());
  std::filesystem::path archive = folder.Write("broken.bin", broken);

  Outcome verify = Pack("verify " + Quote(archive));
  EXPECT_EQ(verify.exitCode, 1);
  EXPECT_NE(verify.out.find(": entry 1 \"a.txt\": the zlib stream is damaged"),
            std::string::npos) << verify.out;
  // The listing shows what could be read, then why the walk stopped.
  Outcome list = Pack("list " + Quote(archive));
  EXPECT_EQ(list.exitCode, 1);
  EXPECT_NE(list.out.find("zlib1.dll\traw\t2\t2\na.txt\tzlib\t4\t?\n"), std::string::npos)
      << list.out;
  EXPECT_NE(list.out.find("entry 2 at offset 36: the entry data runs past the end"),
            std::string::npos) << list.out;
}

}  // namespace
