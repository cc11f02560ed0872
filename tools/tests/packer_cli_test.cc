// The talvorn-pack command as the build runs it: exit codes, output files
// and messages.
#include <gtest/gtest.h>

#include <stdio.h>
#include <sys/wait.h>

#include <cstdlib>

#include "tools/payload_file.h"
#include "tools/pe_resource.h"
#include "tools/tests/pe_image.h"
#include "tools/tests/test_folder.h"

namespace {

struct Outcome {
  int exitCode;
  std::string out;  // stdout and stderr together
};

// shell: commands for the shell to run first, such as limits.
Outcome Pack(const std::string& arguments, const std::string& shell = "") {
  std::string command = shell + TALVORN_PACK_EXE + " " + arguments + " 2>&1";
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

const Bytes kLibrary = TestLibrary();
const std::string kLibraryText(kLibrary.begin(), kLibrary.end());
const std::string kLibraryListed =
    "zlib1.dll\traw\t" + std::to_string(kLibrary.size()) + "\t" + std::to_string(kLibrary.size()) +
    "\n";

TEST(PackerCliTest, PackVerifyListRoundTrip) {
  TestFolder folder, out;
  folder.Write("zlib1.dll", kLibraryText);
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
            kLibraryListed + "Talvorn\\Templates\\Custom Template.txt\t");
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
            kLibraryListed + "empty.txt\tzlib\t8\t0\n");
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

Bytes Text(const std::string& text) { return Bytes(text.begin(), text.end()); }

std::string AsString(const Bytes& bytes) { return std::string(bytes.begin(), bytes.end()); }

TEST(PackerCliTest, ExtractWritesWhatTheExtractorWrites) {
  TestFolder folder;
  const Bytes library = kLibrary;
  // Windows folds letter case: the later "READ ME.TXT" replaces the longer
  // "Read me.txt" in the folder first spelled "Docs".
  ArchiveWriter writer;
  writer.AddFile("zlib1.dll", library);
  writer.AddFile("Docs\\Read me.txt", Text("first, and longer than the second"));
  writer.AddFile("DOCS\\b.txt", Text("bee"));
  writer.AddFile("docs\\READ ME.TXT", Text("second"));
  writer.AddFile("empty.txt", {});
  writer.AppendEntry(0, "nothing.txt", {});  // no stored bytes: an empty file too
  writer.AppendTrailer();
  std::filesystem::path archive = folder.Write("payload.bin", AsString(writer.bytes()));
  const std::string warning = archive.string() +
      ": warning: entry 3 \"docs\\READ ME.TXT\" replaces the file of entry 1 \"Docs\\Read "
      "me.txt\"\n";
  EXPECT_EQ(Pack("verify " + Quote(archive)).out, warning + "OK 6 entries\n");
  Outcome list = Pack("list " + Quote(archive));
  EXPECT_NE(list.out.find("\nnothing.txt\tzlib\t0\t0\n"), std::string::npos) << list.out;

  std::filesystem::path out = folder.root() / "new" / "deeper";
  Outcome extract = Pack("extract " + Quote(archive) + " " + Quote(out));
  EXPECT_EQ(extract.exitCode, 0) << extract.out;
  EXPECT_EQ(extract.out, warning + "OK 6 entries extracted\n");
  EXPECT_EQ(TestFolder::Tree(out), (std::map<std::string, std::string>{
                                       {"Docs", "/"},
                                       {"Docs/Read me.txt", "second"},
                                       {"Docs/b.txt", "bee"},
                                       {"empty.txt", ""},
                                       {"nothing.txt", ""},
                                       {"zlib1.dll", AsString(library)},
                                   }));

  // A folder that is not empty is refused and left as it is.
  Outcome again = Pack("extract " + Quote(archive) + " " + Quote(out));
  EXPECT_EQ(again.exitCode, 1);
  EXPECT_EQ(again.out, "talvorn-pack: \"" + out.string() + "\" is not empty\n");
  EXPECT_EQ(TestFolder::Tree(out).size(), 6u);
}

// A write that fails part way, here at the file size limit as on a full
// disk: the entry and the cause are named, and what the extraction made is
// gone while what was there before stays, so a second try can start afresh.
TEST(PackerCliTest, AFailedExtractionRemovesWhatItMade) {
  const std::string limit = "trap '' XFSZ; ulimit -f 4; ";  // 2,048 bytes a file
  Bytes big;
  for (int i = 0; big.size() < 10000; ++i) {
    for (char c : std::to_string(i * 7919)) big.push_back(static_cast<uint8_t>(c));
  }
  const struct {
    std::vector<NamedFile> files;
    std::string failure;
  } cases[] = {
      {{{"zlib1.dll", kLibrary}, {"Docs\\a.txt", Text("a")}, {"Docs\\Deep\\big.bin", big}},
       "entry 2 \"Docs\\Deep\\big.bin\": cannot write \"$OUT/Docs/Deep/big.bin\": File too "
       "large"},
      {{{"zlib1.dll", TestLibrary(big.size())}, {"a.txt", Text("a")}},
       "entry 0 \"zlib1.dll\": cannot write \"$OUT/zlib1.dll\": File too large"},
  };
  for (const auto& test : cases) {
    TestFolder folder;
    const std::string bytes = AsString(BuildArchive(test.files));
    std::filesystem::path archive = folder.Write("payload.bin", bytes);
    folder.Write("kept/before.txt", "there before");
    std::filesystem::create_directories(folder.root() / "empty");
    for (const std::filesystem::path& out :
         {folder.root() / "new" / "out", folder.root() / "kept" / "out", folder.root() / "empty"}) {
      std::string failure = test.failure;
      failure.replace(failure.find("$OUT"), 4, out.string());
      Outcome extract = Pack("extract " + Quote(archive) + " " + Quote(out), limit);
      EXPECT_EQ(extract.exitCode, 1);
      EXPECT_EQ(extract.out, "talvorn-pack: " + failure +
                                 "; the files and folders made by this extraction are removed\n");
    }
    EXPECT_EQ(TestFolder::Tree(folder.root()), (std::map<std::string, std::string>{
                                                   {"empty", "/"},
                                                   {"kept", "/"},
                                                   {"kept/before.txt", "there before"},
                                                   {"payload.bin", bytes},
                                               }));
    Outcome again = Pack("extract " + Quote(archive) + " " + Quote(folder.root() / "empty"));
    EXPECT_EQ(again.exitCode, 0) << again.out;
  }
}

TEST(PackerCliTest, ExtractRefusesBeforeWritingAnything) {
  ArchiveWriter damaged;
  damaged.AddFile("zlib1.dll", kLibrary);
  damaged.AddFile("a.txt", Text("a"));
  damaged.AppendEntry(4, "b.txt", Bytes{1, 2, 3, 4});
  damaged.AppendTrailer();
  const struct {
    Bytes archive;
    std::string message;
  } cases[] = {
      {damaged.bytes(),
       ": entry 2 \"b.txt\": the zlib stream is damaged (incorrect header check); nothing "
       "extracted\n"},
      // Windows could not make it: the extractor would stop half-way.
      {BuildArchive({{"zlib1.dll", kLibrary}, {"a.txt", Text("a")}, {"A.TXT\\b.txt", {}}}),
       ": entry 2 \"A.TXT\\b.txt\" needs a folder where entry 1 \"a.txt\" has a file: the "
       "extractor would fail; nothing extracted\n"},
      // The library's file would be emptied before it is loaded.
      {BuildArchive({{"zlib1.dll", kLibrary}, {"Zlib1.DLL", Text("a")}}),
       ": entry 1 \"Zlib1.DLL\" replaces the file of entry 0 \"zlib1.dll\" (Windows folds "
       "letter case): the library would be emptied before it is loaded; nothing extracted\n"},
  };
  for (const auto& test : cases) {
    TestFolder folder;
    std::filesystem::path archive = folder.Write("payload.bin", AsString(test.archive));
    std::filesystem::path out = folder.root() / "out";
    Outcome extract = Pack("extract " + Quote(archive) + " " + Quote(out));
    EXPECT_EQ(extract.exitCode, 1);
    EXPECT_EQ(extract.out.substr(extract.out.size() - std::min(extract.out.size(),
                                                               test.message.size())),
              test.message);
    EXPECT_FALSE(std::filesystem::exists(out));
    EXPECT_EQ(Pack("verify " + Quote(archive)).exitCode, 1) << test.message;
  }
  TestFolder folder;
  std::filesystem::path archive =
      folder.Write("payload.bin", AsString(BuildArchive({{"zlib1.dll", kLibrary}})));
  EXPECT_EQ(Pack("extract " + Quote(archive) + " " + Quote(archive)).out,
            "talvorn-pack: \"" + archive.string() + "\" is not a folder\n");
}

TEST(PackerCliTest, ReadsExesAndSaysWhatIsWrongWithThem) {
  const Bytes payload = BuildArchive({{"zlib1.dll", kLibrary}, {"a.txt", Text("a")}});
  PeImage good = MakePeImage(payload);
  PeImage signedExe = good;
  signedExe.AppendCertificateTable(0x0002, 64);
  PeImage noPayload = good;
  PutU32(&noPayload.bytes, noPayload.typeEntry, 11);
  PeImage cut = good;
  cut.bytes.resize(cut.payload + 10);
  PeImage badArchive = good;
  badArchive.bytes[badArchive.payload + payload.size() - 6] ^= 0xFF;  // in a.txt's stream
  PeImage badTable = good;
  badTable.AppendCertificateTable(0x0002, 64);
  badTable.bytes.resize(badTable.bytes.size() - 8);
  const Bytes mzArchive =
      BuildArchive({{"zlib1.dll", TestLibrary(0x5A4D)}, {"a.txt", Text("a")}});
  const struct {
    Bytes file;
    int exitCode;
    std::string verify;  // the output, after the path for a failure
    bool lists, extracts;  // list and extract succeed
  } cases[] = {
      {good.bytes, 0, "OK 2 entries\nAuthenticode signature: none\n", true, true},
      {signedExe.bytes, 0, "OK 2 entries\nAuthenticode signature: present\n", true, true},
      {mzArchive, 0, "OK 2 entries\n", true, true},
      {noPayload.bytes, 1, ": the PE file has no payload resource (RCDATA 100)\n", false, false},
      {cut.bytes, 1, ": the payload resource (RCDATA 100) runs past the end of the file\n",
       false, false},
      {badArchive.bytes, 1,
       ": entry 1 \"a.txt\": the zlib stream's Adler-32 does not match its content\n", true,
       false},
      {badTable.bytes, 1,
       ": Authenticode signature: damaged (the certificate table does not hold together)\n",
       true, true},
      {Text("MZ and nothing of a PE file"), 1,
       ": not a PE file (\"MZ\" but no PE header), read as an archive: entry 0 at offset 0: "
       "the entry name runs past the end of the archive\n",
       false, false},
  };
  for (const auto& test : cases) {
    TestFolder folder;
    std::filesystem::path file = folder.Write("setup.exe", AsString(test.file));
    Outcome verify = Pack("verify " + Quote(file));
    EXPECT_EQ(verify.exitCode, test.exitCode) << verify.out;
    size_t at = test.exitCode == 0 ? 0 : verify.out.find(file.string()) + file.string().size();
    EXPECT_EQ(verify.out.substr(at, test.verify.size()), test.verify);
    // A listing shows what it can, so only a broken walk fails it.
    EXPECT_EQ(Pack("list " + Quote(file)).exitCode == 0, test.lists) << test.verify;
    Outcome extract = Pack("extract " + Quote(file) + " " + Quote(folder.root() / "out"));
    EXPECT_EQ(extract.exitCode == 0, test.extracts) << extract.out;
  }
}

// A library the extractor could not load or bind is refused by pack and by
// verify, naming it; the stub's machine comes from an exe's own header.
TEST(PackerCliTest, RefusesADamagedLibrary) {
  TestFolder folder, out;
  Bytes flipped = kLibrary;
  flipped[0x300] ^= 0x01;  // in its code
  folder.Write("zlib1.dll", AsString(flipped));
  folder.Write("a.txt", "a");
  const std::string damaged = "\"zlib1.dll\": its bytes do not match its PE checksum";
  Outcome pack = Pack("pack " + Quote(folder.root()) + " " + Quote(out.root() / "p.bin"));
  EXPECT_EQ(pack.exitCode, 1);
  EXPECT_EQ(pack.out.find("talvorn-pack: " + damaged), 0u) << pack.out;
  EXPECT_TRUE(std::filesystem::is_empty(out.root()));

  const Bytes good = BuildArchive({{"zlib1.dll", kLibrary}, {"a.txt", Text("a")}});
  PeImage x64Exe = MakePeImage(good);
  PutU16(&x64Exe.bytes, x64Exe.coff, kMachineX64);
  const struct {
    Bytes file;
    std::string options, verify;
  } cases[] = {
      {BuildArchive({{"zlib1.dll", flipped}, {"a.txt", Text("a")}}), "", "entry 0 " + damaged},
      {good, " --machine x64", "entry 0 \"zlib1.dll\": a DLL for x86, but the extractor is "
                               "built for x64"},
      {x64Exe.bytes, "", "entry 0 \"zlib1.dll\": a DLL for x86, but the extractor is built for "
                         "x64"},
  };
  for (const auto& test : cases) {
    std::filesystem::path file = out.Write("file", AsString(test.file));
    Outcome verify = Pack("verify " + Quote(file) + test.options);
    EXPECT_EQ(verify.exitCode, 1);
    EXPECT_EQ(verify.out.find(file.string() + ": " + test.verify), 0u) << verify.out;
    Outcome extract = Pack("extract " + Quote(file) + " " + Quote(out.root() / "x") + test.options);
    EXPECT_EQ(extract.exitCode, 1) << extract.out;
    EXPECT_FALSE(std::filesystem::exists(out.root() / "x"));
  }
  for (const char* options : {" --level 13", " --level 9x", " --level", " --machine arm",
                              " --order a --order b", " --force"}) {
    EXPECT_EQ(Pack("pack " + Quote(folder.root()) + " " + Quote(out.root() / "p.bin") + options)
                  .exitCode,
              2)
        << options;
  }
}

// The cross-built extractor, when the build gives its path: the reader finds
// exactly the payload file that went into it, so the exe verifies, lists and
// extracts like that file; the stub has no payload.
TEST(PackerCliTest, ABuiltExtractorReadsLikeItsPayload) {
  const char* exe = std::getenv("TALVORN_SETUP_EXE");
  const char* payload = std::getenv("TALVORN_PAYLOAD_FILE");
  const char* stub = std::getenv("TALVORN_STUB_EXE");
  if (!exe || !payload || !stub) GTEST_SKIP() << "run by ctest, which names the exes";
  Bytes bytes = ReadFileBytes(exe);
  PeResource found = FindPayloadResource(bytes.data(), bytes.size());
  ASSERT_EQ(found.problem, PeProblem::kNone) << DescribePeProblem(found.problem);
  EXPECT_EQ(Bytes(bytes.begin() + found.offset, bytes.begin() + found.offset + found.size),
            ReadFileBytes(payload));
  Bytes stubBytes = ReadFileBytes(stub);
  EXPECT_EQ(FindPayloadResource(stubBytes.data(), stubBytes.size()).problem,
            PeProblem::kNoPayload);

  Outcome verify = Pack(std::string("verify ") + exe);
  EXPECT_EQ(verify.exitCode, 0) << verify.out;
  // A bare archive does not say for which build it is: the exe's machine.
  const std::string machine = " --machine " + MachineName(found.machine);
  EXPECT_EQ(verify.out.substr(0, verify.out.find('\n') + 1),
            Pack(std::string("verify ") + payload + machine).out);
  EXPECT_EQ(Pack(std::string("list ") + exe).out, Pack(std::string("list ") + payload).out);
  TestFolder out;
  ASSERT_EQ(Pack(std::string("extract ") + exe + " " + Quote(out.root() / "exe")).exitCode, 0);
  ASSERT_EQ(
      Pack(std::string("extract ") + payload + " " + Quote(out.root() / "bin") + machine).exitCode,
      0);
  EXPECT_EQ(TestFolder::Tree(out.root() / "exe"), TestFolder::Tree(out.root() / "bin"));
}

}  // namespace
