// The writer's format and the read-back check, over archives built on
// purpose (well-formed and broken).
#include <gtest/gtest.h>

#include "tools/archive_check.h"
#include "tools/archive_writer.h"

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
                                {"ZLIB1.DLL", Text("not the library")},
                                {"sub\\zlib1.dll", Text("nor this")}});
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
  EXPECT_EQ(ProblemOf(WithStream({})), "entry 1 \"a.txt\": the zlib stream is cut short");
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

}  // namespace
