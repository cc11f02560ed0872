// The writer's format and the read-back check, over archives built on
// purpose (well-formed and broken); finding the archive in an exe.
#include <gtest/gtest.h>

#include <functional>

#include "tools/archive_check.h"
#include "tools/archive_writer.h"
#include "tools/library_check.h"
#include "tools/pe_resource.h"
#include "tools/tests/pe_image.h"

namespace {

Bytes Text(const std::string& text) { return Bytes(text.begin(), text.end()); }

const Bytes kLibrary = Text("MZ pretend library");

std::string ProblemOf(const Bytes& archive) {
  return InspectArchive(archive.data(), archive.size()).problem;
}

// An archive whose one compressed entry holds the given stored bytes.
Bytes WithStream(const Bytes& stream) {
  ArchiveWriter writer;
  writer.AddFile("zlib1.dll", kLibrary);
  writer.AppendEntry(static_cast<uint32_t>(stream.size()), "a.txt", stream);
  writer.AppendTrailer();
  return writer.Take();
}

TEST(ArchiveWriterTest, LaysOutEntriesAndTrailer) {
  Bytes archive = BuildArchive({{"zlib1.dll", kLibrary},
                                {"empty.txt", {}},
                                {"sub\\ZLIB1.DLL", Text("not the library")},
                                {"other\\zlib1.dll", Text("nor this")}});
  // The raw entry: header, name and the bytes unchanged.
  ASSERT_GE(archive.size(), 8u + 9 + kLibrary.size());
  EXPECT_EQ(archive[0], kLibrary.size());
  EXPECT_EQ(archive[4], 9);
  EXPECT_EQ(std::string(archive.begin() + 8, archive.begin() + 17), "zlib1.dll");
  EXPECT_TRUE(std::equal(kLibrary.begin(), kLibrary.end(), archive.begin() + 17));
  // An empty file is the 8-byte stream of empty input.
  size_t empty = 17 + kLibrary.size();
  EXPECT_EQ(archive[empty], 8);
  EXPECT_EQ(archive[empty + 8 + 9], 0x78);
  EXPECT_EQ(archive[empty + 8 + 9 + 1], 0xDA);

  ArchiveReport report = InspectArchive(archive.data(), archive.size());
  EXPECT_EQ(report.problem, "");
  ASSERT_EQ(report.entries.size(), 4u);
  EXPECT_TRUE(report.entries[0].raw);
  // Only the exact name is raw: case variants and subfolders are inflated.
  EXPECT_FALSE(report.entries[2].raw);
  EXPECT_FALSE(report.entries[3].raw);
  EXPECT_EQ(report.entries[1].storedSize, 8u);
  EXPECT_EQ(report.entries[1].inflatedSize, 0);
  EXPECT_EQ(report.entries[2].inflatedSize, 15);
  // The trailer is the entry area's length.
  uint32_t trailer = archive[archive.size() - 4] | archive[archive.size() - 3] << 8 |
                     archive[archive.size() - 2] << 16 | archive[archive.size() - 1] << 24;
  EXPECT_EQ(trailer, archive.size() - 4);
}

TEST(ArchiveWriterTest, StreamsAreLevel9) {
  Bytes big(100000, 'x');
  for (const Bytes& content : {Bytes(), Text("a"), big}) {
    Bytes stream = DeflateLevel9(content);
    ASSERT_GE(stream.size(), 2u);
    EXPECT_EQ(stream[0], 0x78);
    EXPECT_EQ(stream[1], 0xDA);
    std::string problem;
    EXPECT_EQ(InflatedSize(stream.data(), stream.size(), &problem),
              static_cast<int64_t>(content.size()));
  }
}

TEST(ArchiveCheckTest, RejectsBrokenStreams) {
  Bytes good = DeflateLevel9(Text("some file content"));

  Bytes trailing = good;
  trailing.push_back(0);
  EXPECT_EQ(ProblemOf(WithStream(trailing)),
            "entry 1 \"a.txt\": 1 stored bytes follow the end of the zlib stream");

  Bytes cut(good.begin(), good.end() - 1);
  EXPECT_EQ(ProblemOf(WithStream(cut)), "entry 1 \"a.txt\": the zlib stream is cut short");

  Bytes badAdler = good;
  badAdler.back() ^= 1;
  EXPECT_EQ(ProblemOf(WithStream(badAdler)),
            "entry 1 \"a.txt\": the zlib stream's Adler-32 does not match its content");

  EXPECT_EQ(ProblemOf(WithStream(Text("plain text"))),
            "entry 1 \"a.txt\": the zlib stream is damaged (incorrect header check)");
  // No stored bytes at all: the extractor writes an empty file.
  ArchiveReport empty = InspectArchive(WithStream({}).data(), WithStream({}).size());
  EXPECT_EQ(empty.problem, "");
  ASSERT_EQ(empty.entries.size(), 2u);
  EXPECT_EQ(empty.entries[1].inflatedSize, 0);

  // A sink that stops ends the inflation there, as a failed write must.
  const Bytes big = DeflateLevel9(Bytes(300000, 'x'));
  int calls = 0;
  std::string problem;
  EXPECT_EQ(Inflate(big.data(), big.size(), &problem, [&](const uint8_t*, size_t) {
              ++calls;
              return false;
            }),
            -1);
  EXPECT_EQ(calls, 1);
  EXPECT_EQ(problem, "the inflated data could not be written");
}

// Windows folds letter case: names that land on one file replace it, which
// only the library's file must never suffer.
TEST(ArchiveCheckTest, JudgesNamesThatLandOnOneFile) {
  const struct {
    std::vector<NamedFile> files;
    std::string problem;
    std::vector<std::string> warnings;
  } cases[] = {
      {{{"zlib1.dll", kLibrary}, {"a.txt", Text("a")}, {"ZLIB1.DLL", Text("z")}},
       "entry 2 \"ZLIB1.DLL\" replaces the file of entry 0 \"zlib1.dll\" (Windows folds "
       "letter case): the library would be emptied before it is loaded",
       {}},
      {{{"zlib1.dll", kLibrary},
        {"a.txt", Text("a")},
        {"A.TXT", Text("b")},
        {"Docs\\a.txt", Text("c")},
        {"a.Txt", Text("d")},
        {"DOCS\\b.txt", Text("e")}},
       "",
       {"entry 2 \"A.TXT\" replaces the file of entry 1 \"a.txt\"",
        "entry 4 \"a.Txt\" replaces the file of entry 2 \"A.TXT\""}},
      {{{"zlib1.dll", kLibrary}, {"a.txt", Text("a")}, {"a.txt", Text("b")}},
       "",
       {"entry 2 \"a.txt\" replaces the file of entry 1 \"a.txt\""}},
      // The extractor could create neither.
      {{{"zlib1.dll", kLibrary}, {"a.txt", Text("a")}, {"A.TXT\\b.txt", {}}},
       "entry 2 \"A.TXT\\b.txt\" needs a folder where entry 1 \"a.txt\" has a file: the "
       "extractor would fail",
       {}},
      {{{"zlib1.dll", kLibrary}, {"a\\b.txt", {}}, {"A", Text("a")}},
       "entry 2 \"A\" needs a file where entry 1 \"a\\b.txt\" has a folder: the "
       "extractor would fail",
       {}},
  };
  for (const auto& test : cases) {
    Bytes archive = BuildArchive(test.files);
    ArchiveReport report = InspectArchive(archive.data(), archive.size());
    EXPECT_EQ(report.problem, test.problem);
    EXPECT_EQ(report.warnings, test.warnings) << test.problem;
    EXPECT_EQ(report.entries.size(), test.files.size());
  }
}

TEST(ArchiveCheckTest, RejectsBadLayout) {
  Bytes stream = DeflateLevel9(Text("x"));
  {
    ArchiveWriter writer;
    writer.AddFile("a.txt", Text("x"));
    writer.AddFile("zlib1.dll", kLibrary);
    writer.AppendTrailer();
    EXPECT_EQ(ProblemOf(writer.bytes()),
              "entry 1 \"zlib1.dll\": the raw entry comes after a compressed entry");
  }
  {
    ArchiveWriter writer;
    writer.AddFile("zlib1.dll", kLibrary);
    writer.AddFile("zlib1.dll", kLibrary);
    writer.AppendTrailer();
    EXPECT_EQ(ProblemOf(writer.bytes()), "entry 1 \"zlib1.dll\": a second raw entry");
  }
  EXPECT_EQ(ProblemOf(BuildArchive({{"a.txt", Text("x")}})),
            "there is no raw entry \"zlib1.dll\"");
  EXPECT_EQ(ProblemOf(BuildArchive({})),
            "the archive has no entries (the extractor would stop)");
  EXPECT_EQ(ProblemOf(Bytes{0, 0, 0}), "the archive is shorter than its 4-byte trailer");
  {
    ArchiveWriter writer;
    writer.AddFile("zlib1.dll", kLibrary);
    writer.AppendTrailer(7);
    EXPECT_EQ(ProblemOf(writer.bytes()), "the trailer holds 7 but the entry area is " +
                                             std::to_string(writer.bytes().size() - 4) +
                                             " bytes");
  }
}

TEST(ArchiveCheckTest, ReportsWhereTheWalkBreaks) {
  ArchiveWriter writer;
  writer.AddFile("zlib1.dll", kLibrary);
  size_t offset = writer.bytes().size();
  writer.AppendEntry(1000, "a.txt", DeflateLevel9(Text("x")));
  writer.AppendTrailer();
  ArchiveReport report = InspectArchive(writer.bytes().data(), writer.bytes().size());
  EXPECT_EQ(report.entries.size(), 1u);
  EXPECT_EQ(report.walkProblem, report.problem);
  EXPECT_EQ(report.problem, "entry 1 at offset " + std::to_string(offset) +
                                ": the entry data runs past the end of the archive");

  ArchiveWriter badName;
  badName.AddFile("zlib1.dll", kLibrary);
  badName.AppendEntry(0, "..\\evil.txt", {});
  badName.AppendTrailer();
  EXPECT_EQ(ProblemOf(badName.bytes()),
            "entry 1 at offset " + std::to_string(offset) +
                ": the entry name is not a safe relative path (the name has a \".\" or "
                "\"..\" component)");
}

// PE32 and PE32+, past named entries, and with a section whose virtual size
// some linkers leave at 0 (its file bytes count then).
TEST(PeResourceTest, FindsThePayloadInEveryLayout) {
  const Bytes payload = BuildArchive({{"zlib1.dll", kLibrary}});
  for (int layout = 0; layout < 8; ++layout) {
    const bool pe32Plus = layout & 1, named = layout & 2, noVirtualSize = layout & 4;
    PeImage image = MakePeImage(payload, pe32Plus, named);
    if (noVirtualSize) PutU32(&image.bytes, image.section + 8, 0);
    ASSERT_TRUE(HasPeSignature(image.bytes.data(), image.bytes.size()));
    PeResource found = FindPayloadResource(image.bytes.data(), image.bytes.size());
    EXPECT_EQ(found.problem, PeProblem::kNone) << layout << ": " << DescribePeProblem(found.problem);
    EXPECT_EQ(found.offset, image.payload) << layout;
    EXPECT_EQ(found.size, payload.size()) << layout;
    EXPECT_EQ(found.signature, SignatureState::kNone);
  }
}

TEST(PeResourceTest, RefusesDamagedImages) {
  const struct {
    const char* what;
    std::function<void(PeImage*)> damage;
    PeProblem problem;
  } cases[] = {
      {"no MZ", [](PeImage* i) { i->bytes[0] = 'X'; }, PeProblem::kNotPe},
      {"PE header past the end", [](PeImage* i) { PutU32(&i->bytes, 0x3C, 0xFFFFFFFE); },
       PeProblem::kNotPe},
      {"unknown optional header", [](PeImage* i) { PutU16(&i->bytes, i->optional, 0x107); },
       PeProblem::kBadHeaders},
      {"optional header past the end",
       [](PeImage* i) { PutU16(&i->bytes, i->coff + 16, 0xFFFF); }, PeProblem::kBadHeaders},
      {"section table past the end",
       [](PeImage* i) { PutU16(&i->bytes, i->coff + 2, 0xFFFF); }, PeProblem::kBadHeaders},
      // Room for two data directories: the count of 16 is not believed.
      {"resource directory outside the optional header",
       [](PeImage* i) { PutU16(&i->bytes, i->coff + 16, 96 + 2 * 8); }, PeProblem::kNoResources},
      {"empty resource directory", [](PeImage* i) { PutU32(&i->bytes, i->directory(2) + 4, 0); },
       PeProblem::kNoResources},
      {"resources in no section",
       [](PeImage* i) { PutU32(&i->bytes, i->directory(2), 0x9000); }, PeProblem::kBadResources},
      {"no RCDATA", [](PeImage* i) { PutU32(&i->bytes, i->typeEntry, 11); },
       PeProblem::kNoPayload},
      {"no id 100", [](PeImage* i) { PutU32(&i->bytes, i->nameEntry, 101); },
       PeProblem::kNoPayload},
      // Any language will do, but a string is no language.
      {"a named entry among the ids",
       [](PeImage* i) { PutU32(&i->bytes, i->languageEntry, 0x80000048); },
       PeProblem::kNoPayload},
      {"more entries than the directory holds",
       [](PeImage* i) { PutU16(&i->bytes, i->root + 14, 0xFFFF); }, PeProblem::kBadResources},
      {"type leads to data", [](PeImage* i) { PutU32(&i->bytes, i->typeEntry + 4, 0x18); },
       PeProblem::kBadResources},
      {"language leads to a directory",
       [](PeImage* i) { PutU32(&i->bytes, i->languageEntry + 4, 0x80000048); },
       PeProblem::kBadResources},
      // Loops: the walk takes three steps whatever the offsets say.
      {"name level is the root",
       [](PeImage* i) { PutU32(&i->bytes, i->typeEntry + 4, 0x80000000); },
       PeProblem::kNoPayload},
      {"language level is the root",
       [](PeImage* i) { PutU32(&i->bytes, i->nameEntry + 4, 0x80000000); },
       PeProblem::kBadResources},
      {"data in no section", [](PeImage* i) { PutU32(&i->bytes, i->dataEntry, 0x50000); },
       PeProblem::kBadResources},
      {"data larger than its section",
       [](PeImage* i) { PutU32(&i->bytes, i->dataEntry + 4, 0xFFFFFFFF); },
       PeProblem::kPayloadPastEnd},
      {"file cut inside the payload", [](PeImage* i) { i->bytes.resize(i->payload + 3); },
       PeProblem::kPayloadPastEnd},
      // The file goes on, but past the section's file bytes the loader
      // gives zeros, not what the file holds.
      {"payload past its section's file bytes",
       [](PeImage* i) {
         PutU32(&i->bytes, i->section + 16, static_cast<uint32_t>(i->payload - i->root + 2));
       },
       PeProblem::kPayloadPastEnd},
      {"directory past its section's file bytes",
       [](PeImage* i) { PutU32(&i->bytes, i->section + 16, 0x20); }, PeProblem::kBadResources},
      {"file cut inside the directory", [](PeImage* i) { i->bytes.resize(i->root + 20); },
       PeProblem::kBadResources},
  };
  const Bytes payload = BuildArchive({{"zlib1.dll", kLibrary}, {"a.txt", Text("a")}});
  for (const auto& test : cases) {
    PeImage image = MakePeImage(payload);
    test.damage(&image);
    // An exact-size copy, so that a read past the end is caught by sanitizers.
    Bytes file = image.bytes;
    PeResource found = FindPayloadResource(file.data(), file.size());
    EXPECT_EQ(found.problem, test.problem) << test.what << ": " << DescribePeProblem(found.problem);
    EXPECT_EQ(found.size, 0u) << test.what;
  }
}

TEST(PeResourceTest, ReportsTheCertificateTable) {
  const Bytes payload = BuildArchive({{"zlib1.dll", kLibrary}});
  auto state = [](const PeImage& image) {
    return FindPayloadResource(image.bytes.data(), image.bytes.size()).signature;
  };
  PeImage signedImage = MakePeImage(payload);
  signedImage.AppendCertificateTable(0x0002, 100);
  EXPECT_EQ(state(signedImage), SignatureState::kPresent);
  // The signature does not move the payload.
  EXPECT_EQ(FindPayloadResource(signedImage.bytes.data(), signedImage.bytes.size()).offset,
            signedImage.payload);

  PeImage cut = signedImage;
  cut.bytes.resize(cut.bytes.size() - 1);
  EXPECT_EQ(state(cut), SignatureState::kDamaged);
  PeImage wrongType = MakePeImage(payload);
  wrongType.AppendCertificateTable(0x0001, 100);  // an X.509 certificate, no signature
  EXPECT_EQ(state(wrongType), SignatureState::kDamaged);
  // The WIN_CERTIFICATE's own length must fit its header and the table.
  for (uint32_t length : {7u, 8u + 100 + 1}) {
    PeImage badLength = signedImage;
    PutU32(&badLength.bytes, badLength.certificate, length);
    EXPECT_EQ(state(badLength), SignatureState::kDamaged) << length;
  }
}

// The zlib1.dll the binding would fail to load or bind is refused, each
// for its own reason: every case but the checksum's carries a good one.
TEST(LibraryCheckTest, RefusesWhatTheBindingWouldNotLoad) {
  DllShape x64;
  x64.names = TestLibraryExports();
  x64.machine = kMachineX64;
  DllShape noGzwrite, noDeflateInit2, unsorted, unsealed;
  noGzwrite.names = RequiredZlibExports();
  noDeflateInit2.names = {"inflate", "inflateEnd", "inflateInit_", "inflateInit2_"};
  unsorted.names = TestLibraryExports();
  unsorted.unsorted = true;
  unsealed.names = TestLibraryExports();
  unsealed.withChecksum = false;
  const std::string missingAll = "it does not export \"deflateEnd\", \"deflate\", "
      "\"deflateInit_\", \"gzopen\", \"gzclose\", \"gzread\", \"inflateSync\", \"crc32\", "
      "\"get_crc_table\", \"deflateInit2_\", which the extractor binds";
  const struct {
    const char* what;
    DllShape shape;
    uint16_t machine;
    std::function<void(DllImage*)> damage;
    std::string problem;
  } cases[] = {
      {"good", DllShape{TestLibraryExports()}, kMachineX86, nullptr, ""},
      {"good for x64", x64, kMachineX64, nullptr, ""},
      {"gzwrite is optional", noGzwrite, kMachineX86, nullptr, ""},
      // Windows checks no checksum, so a library without one is judged by the rest.
      {"no checksum, a byte flipped", unsealed, kMachineX86,
       [](DllImage* d) { d->bytes[d->code + 9] ^= 1; }, ""},
      {"a code byte flipped", DllShape{TestLibraryExports()}, kMachineX86,
       [](DllImage* d) { d->bytes[d->code + 9] ^= 1; },
       "its bytes do not match its PE checksum (the header holds 0x"},
      {"x64 for x86", x64, kMachineX86, nullptr,
       "a DLL for x64, but the extractor is built for x86"},
      {"missing exports", noDeflateInit2, kMachineX86, nullptr, missingAll},
      // The loader's binary search does not find every name of a table out
      // of order.
      {"names out of order", unsorted, kMachineX86, nullptr, "it does not export \""},
      {"a program", DllShape{TestLibraryExports()}, kMachineX86,
       [](DllImage* d) { d->bytes[0x57] &= ~0x20; }, "not a DLL: its header marks a program"},
      {"exports in no section", DllShape{TestLibraryExports()}, kMachineX86,
       [](DllImage* d) { PutU32(&d->bytes, d->exportEntry, 0x9000); },
       "its export table is missing or damaged"},
      {"names past the file", DllShape{TestLibraryExports()}, kMachineX86,
       [](DllImage* d) { PutU32(&d->bytes, d->exports + 24, 0x40000000); },
       "its export table is missing or damaged"},
      // Each name then runs to the end of its section without a terminator.
      {"unterminated names", DllShape{TestLibraryExports()}, kMachineX86,
       [](DllImage* d) { std::fill(d->bytes.begin() + 0x500, d->bytes.end(), 'a'); },
       "it does not export \""},
      {"ordinal past the functions", DllShape{TestLibraryExports()}, kMachineX86,
       [](DllImage* d) { PutU32(&d->bytes, d->exports + 20, 3); }, "it does not export \""},
  };
  for (const auto& test : cases) {
    DllImage dll = MakeDllImage(test.shape);
    if (test.damage) {
      test.damage(&dll);
      if (test.shape.withChecksum && test.problem.find("checksum") == std::string::npos) {
        dll.Reseal();
      }
    }
    std::string problem = CheckZlibLibrary(dll.bytes.data(), dll.bytes.size(), test.machine);
    EXPECT_EQ(problem.substr(0, test.problem.size()), test.problem) << test.what << ": " << problem;
    EXPECT_EQ(problem.empty(), test.problem.empty()) << test.what << ": " << problem;
  }
  EXPECT_EQ(CheckZlibLibrary(kLibrary.data(), kLibrary.size(), kMachineX86),
            "not a PE file, so no DLL Windows could load");
}

}  // namespace
