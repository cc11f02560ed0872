// Unpacking archives into tmp-n: the walk, the directories and their log
// lines, the raw entry, and the refusal of archives that do not hold together.
#include "payload/extract.h"

#include "compression/zlib_binding.h"
#include "payload/archive.h"
#include "support/errors.h"
#include "support/file_entry.h"
#include "support/held_folder.h"
#include "tests/payload_test_support.h"

namespace {

class ExtractTest : public PayloadTest {};

TEST_F(ExtractTest, UnpacksNestedEntriesLoggingEachDirectoryFirst) {
  Bytes custom = MixedContent(5000);
  Bytes archive = BuildArchive({{"zlib1.dll", ZlibDll()},
                                {"Licence.txt", ToBytes("licence")},
                                {"Talvorn\\Templates\\Custom Template.txt", custom},
                                {"Talvorn\\Cover.txt", Bytes()}});
  ExtractOutcome outcome = Extract(archive);
  ASSERT_FALSE(outcome.raised);
  EXPECT_EQ(4, outcome.count);
  EXPECT_EQ(ZlibDll(), ReadFileAsBytes(tmp + L"\\zlib1.dll"));
  EXPECT_EQ(ToBytes("licence"), ReadFileAsBytes(tmp + L"\\Licence.txt"));
  EXPECT_EQ(custom,
            ReadFileAsBytes(tmp + L"\\Talvorn\\Templates\\Custom Template.txt"));
  EXPECT_TRUE(PathExists(tmp + L"\\Talvorn\\Cover.txt"));
  EXPECT_TRUE(ReadFileAsBytes(tmp + L"\\Talvorn\\Cover.txt").empty());
  EXPECT_EQ(tmp + L"\\zlib1.dll", std::wstring(zlibLibraryPath));

  std::vector<std::wstring> lines = LogLines();
  std::vector<std::wstring> expected = {
      L"ExtractFiles destDir=" + tmp,
      L"Unarchiving file \"" + tmp + L"\\zlib1.dll\", zippedSize=" +
          std::to_wstring(ZlibDll().size()),
      L"Unarchiving file \"" + tmp + L"\\Licence.txt\", zippedSize=15",
      L"CreateDirectory " + tmp + L"\\Talvorn",
      L"CreateDirectory " + tmp + L"\\Talvorn\\Templates",
      L"Unarchiving file \"" + tmp +
          L"\\Talvorn\\Templates\\Custom Template.txt\", zippedSize=" +
          std::to_wstring(DeflateLevel9(custom).size()),
      L"CreateDirectory " + tmp + L"\\Talvorn",
      L"Unarchiving file \"" + tmp + L"\\Talvorn\\Cover.txt\", zippedSize=8",
  };
  ASSERT_EQ(expected.size() + 1, lines.size());
  EXPECT_EQ(expected, std::vector<std::wstring>(lines.begin() + 1, lines.end()));
  EXPECT_TRUE(boxes.boxes.empty());
  // The loader's name for the library is read from the written file's
  // handle: the held folder's path is only a message, whatever it says.
  ResetZlibForTesting();
  lstrcpyW(held.path, (scratch / L"message only").c_str());
  ASSERT_FALSE(Extract(archive).raised);
  EXPECT_EQ(tmp + L"\\zlib1.dll", std::wstring(zlibLibraryPath));
}

TEST_F(ExtractTest, AnArchiveWithoutEntriesUnpacksNothing) {
  ArchiveWriter writer;
  writer.AppendTrailer();
  ExtractOutcome outcome = Extract(writer.bytes());
  EXPECT_EQ(0, outcome.count);
  EXPECT_EQ(2u, LogLines().size());  // the log's path and "ExtractFiles"
}

TEST_F(ExtractTest, TheTrailerIsNeverReadAndLaterDuplicatesWin) {
  ArchiveWriter writer;
  writer.AddFile("zlib1.dll", ZlibDll());
  writer.AddFile("Docs\\same.txt", ToBytes("first"));
  writer.AddFile("docs\\SAME.txt", ToBytes("second"));
  writer.AddFile("DOCS\\same.TXT", ToBytes("3rd"));  // shorter: no byte of "second" stays
  writer.AppendTrailer(0xDEADBEEF);
  ExtractOutcome outcome = Extract(writer.bytes());
  EXPECT_EQ(4, outcome.count);
  EXPECT_EQ(ToBytes("3rd"), ReadFileAsBytes(tmp + L"\\Docs\\same.txt"));
}

TEST_F(ExtractTest, OnlyTheExactNameIsTheRawEntry) {
  EXPECT_TRUE(IsRawEntryName(reinterpret_cast<const uint8_t*>("zlib1.dll"), 9));
  EXPECT_FALSE(IsRawEntryName(reinterpret_cast<const uint8_t*>("ZLIB1.DLL"), 9));
  EXPECT_FALSE(IsRawEntryName(reinterpret_cast<const uint8_t*>("zlib1.dll "), 10));
  Bytes archive = BuildArchive({{"zlib1.dll", ZlibDll()},
                                {"Sub\\zlib1.dll", ToBytes("inflated")}});
  ExtractOutcome outcome = Extract(archive);
  EXPECT_EQ(2, outcome.count);
  EXPECT_EQ(ToBytes("inflated"), ReadFileAsBytes(tmp + L"\\Sub\\zlib1.dll"));
  EXPECT_EQ(tmp + L"\\zlib1.dll", std::wstring(zlibLibraryPath));
}

// Nothing unpacked is held: tmp-n is closed to others by its descriptor, and
// the setup program may move, rename or delete its own files.
TEST_F(ExtractTest, UnpackedFilesAreTheSetupProgramsToMove) {
  Bytes setup = MixedContent(3000);
  ExtractOutcome outcome = Extract(BuildArchive({{"zlib1.dll", ZlibDll()},
                                                 {"InstallTalvorn.exe", setup},
                                                 {"Launcher.exe", setup},
                                                 {"Talvorn Server.exe", setup}}));
  ASSERT_EQ(4, outcome.count);
  for (const wchar_t* name : {L"InstallTalvorn.exe", L"Launcher.exe",
                              L"Talvorn Server.exe"}) {
    SCOPED_TRACE(Narrow(name));
    std::wstring path = tmp + L"\\" + name;
    EXPECT_TRUE(MoveFileW(path.c_str(), (scratch / name).c_str()));
    EXPECT_EQ(setup, ReadFileAsBytes(scratch / name));
  }
  FreeZlib();
  EXPECT_TRUE(DeleteFileW((tmp + L"\\zlib1.dll").c_str()));
}

TEST_F(ExtractTest, APayloadWithoutCompressedEntriesNeverLoadsTheLibrary) {
  ExtractOutcome outcome = Extract(BuildArchive({{"zlib1.dll", ZlibDll()}}));
  EXPECT_EQ(1, outcome.count);
  EXPECT_EQ(0, zlibAttempted);
  EXPECT_EQ(nullptr, GetModuleHandleW(zlibLibraryPath));
  FreeZlib();
  EXPECT_EQ(nullptr, zlibModule);
  EXPECT_EQ(0, zlibAttempted);
  EXPECT_TRUE(DeleteFileW((tmp + L"\\zlib1.dll").c_str()));
  EXPECT_TRUE(boxes.boxes.empty());
}

struct Malformed {
  const char* what;
  std::function<void(ArchiveWriter&)> append;
  const wchar_t* shown;  // what the failure box says after the label
  bool last = false;     // nothing may follow it in the archive
};

TEST_F(ExtractTest, EntriesThatDoNotHoldTogetherStopTheUnpackingFirst) {
  const Malformed cases[] = {
      {"header cut", [](ArchiveWriter& w) { w.AppendBytes(std::string("\1\0\0", 3)); },
       L"number 3 (the entry header runs past the end of the archive)", true},
      {"name past end", [](ArchiveWriter& w) { w.AppendU32(0); w.AppendU32(50); w.AppendBytes("short"); },
       L"number 3 (the entry name runs past the end of the archive)"},
      {"data past end", [](ArchiveWriter& w) { w.AppendEntry(1000, "big.txt", ToBytes("xx")); },
       L"\"big.txt\" (the entry data runs past the end of the archive)"},
      {"parent", [](ArchiveWriter& w) { w.AddFile("..\\evil.txt", ToBytes("x")); },
       L"\"..\\evil.txt\" (the name has a \".\" or \"..\" component)"},
      {"drive", [](ArchiveWriter& w) { w.AddFile("C:evil.txt", ToBytes("x")); },
       L"\"C:evil.txt\" (the name has a character that no file name may hold)"},
      {"absolute", [](ArchiveWriter& w) { w.AddFile("\\evil.txt", ToBytes("x")); },
       L"\"\\evil.txt\" (the name is not relative)"},
      {"slash", [](ArchiveWriter& w) { w.AddFile("../evil.txt", ToBytes("x")); },
       L"\"../evil.txt\" (the name has a character that no file name may hold)"},
      {"doubled", [](ArchiveWriter& w) { w.AddFile("a\\\\evil.txt", ToBytes("x")); },
       L"\"a\\\\evil.txt\" (the name has a doubled backslash)"},
      {"trailing", [](ArchiveWriter& w) { w.AddFile("evil\\", ToBytes("x")); },
       L"\"evil\\\" (the name ends in a backslash)"},
      {"empty", [](ArchiveWriter& w) { w.AddFile("", ToBytes("x")); },
       L"\"\" (the name is empty)"},
      {"device", [](ArchiveWriter& w) { w.AddFile("sub\\con.txt", ToBytes("x")); },
       L"\"sub\\con.txt\" (a component of the name is a device name)"},
      // blanks before the dot are dropped, and the name still opens NUL
      {"device and blanks", [](ArchiveWriter& w) { w.AddFile("NUL .txt", ToBytes("x")); },
       L"\"NUL .txt\" (a component of the name is a device name)"},
      {"high byte", [](ArchiveWriter& w) { w.AddFile("caf\xE9.txt", ToBytes("x")); },
       L"\"caf?.txt\" (the name has a byte that is not printable ASCII)"},
      {"too long", [](ArchiveWriter& w) { w.AddFile(std::string(256, 'n'), ToBytes("x")); },
       nullptr},
  };
  for (const Malformed& c : cases) {
    ResetZlibForTesting();  // lets go of tmp-1\zlib1.dll
    RemoveTree(tmp);
    CreateDirectoryW(tmp.c_str(), nullptr);
    boxes.boxes.clear();
    ArchiveWriter writer;
    writer.AddFile("zlib1.dll", ZlibDll());
    writer.AddFile("good.txt", ToBytes("good"));
    c.append(writer);
    if (!c.last) writer.AddFile("after.txt", ToBytes("never"));
    writer.AppendTrailer();
    ExtractOutcome outcome = Extract(writer.bytes());
    EXPECT_TRUE(outcome.raised) << c.what;
    ASSERT_EQ(1u, boxes.boxes.size()) << c.what;
    const std::wstring& text = boxes.boxes[0].text;
    if (c.shown) {
      EXPECT_EQ(std::wstring(L"Error in payload entry ") + c.shown + L" Error=-1", text)
          << c.what;
    } else {
      EXPECT_NE(std::wstring::npos, text.find(L"longer than 255 bytes")) << c.what;
    }
    EXPECT_EQ(UINT(MB_OK), boxes.boxes[0].flags);
    // What came before stays; nothing of the bad entry or after it is made,
    // inside tmp-1 or beside it.
    EXPECT_TRUE(PathExists(tmp + L"\\good.txt")) << c.what;
    EXPECT_FALSE(PathExists(tmp + L"\\after.txt")) << c.what;
    EXPECT_FALSE(PathExists(scratch / L"evil.txt")) << c.what;
    EXPECT_FALSE(PathExists(tmp + L"\\big.txt")) << c.what;
    EXPECT_FALSE(PathExists(tmp + L"\\sub")) << c.what;
    EXPECT_FALSE(PathExists(tmp + L"\\evil")) << c.what;
  }
}

TEST_F(ExtractTest, APathTooLongForTheBufferIsRefusedBeforeAnythingIsMade) {
  // 230 units of folder leave room for names of up to 24 units.
  std::wstring deep = scratch.path() + L"\\";
  deep += std::wstring(230 - deep.size(), L'd');
  CreateDirectoryW(deep.c_str(), nullptr);
  tmp = deep;
  ReleaseHeldFolder(&held);
  held = HeldAt(deep);
  Bytes archive = BuildArchive({{"zlib1.dll", ZlibDll()},
                                {"Templates\\A very long name.txt", ToBytes("x")}});
  ExtractOutcome outcome = Extract(archive);
  EXPECT_TRUE(outcome.raised);
  EXPECT_EQ(ERROR_FILENAME_EXCED_RANGE, outcome.code);
  ASSERT_EQ(1u, boxes.boxes.size());
  EXPECT_NE(std::wstring::npos, boxes.boxes[0].text.find(L"would be too long"));
  EXPECT_FALSE(PathExists(deep + L"\\Templates"));
}

// A folder whose path does not fit the held path is neither made nor held,
// and says so: it is not taken for a link.
TEST_F(ExtractTest, AFolderPathThatWouldNotFitIsNeitherMadeNorHeld) {
  std::wstring name(kHeldPathSize, L'n');
  HeldFolder base = HeldAt(scratch.path()), folder;
  DWORD error = 0;
  EXPECT_EQ(FolderMade::kFailed,
            MakeHeldFolder(&base, name.c_str(), nullptr, FILE_LIST_DIRECTORY,
                           kShareAll, &folder, &error));
  EXPECT_EQ(static_cast<DWORD>(ERROR_FILENAME_EXCED_RANGE), error);
  EXPECT_EQ(static_cast<DWORD>(ERROR_FILENAME_EXCED_RANGE),
            HoldExistingFolder(&base, name.c_str(), FILE_LIST_DIRECTORY, kShareAll,
                               &folder));
  EXPECT_FALSE(IsHeld(folder));
  ReleaseHeldFolder(&base);
}

// The run ends without cleaning up, but the file being written is closed: it
// stays for diagnosis, and a later run or a person can remove it.
TEST_F(ExtractTest, AFileBeingWrittenIsClosedWhenTheUnpackingEnds) {
  Bytes corrupt = DeflateLevel9(MixedContent(5000));
  corrupt[corrupt.size() / 2] ^= 0x5A;
  ArchiveWriter writer;
  writer.AddFile("zlib1.dll", ZlibDll());
  writer.AppendEntry(static_cast<uint32_t>(corrupt.size()), "broken.txt", corrupt);
  writer.AppendTrailer();
  ExtractOutcome outcome = Extract(writer.bytes());
  EXPECT_TRUE(outcome.raised);
  EXPECT_EQ(std::vector<std::wstring>{L"Error in unzip inflate 101"}, boxes.Texts());
  HANDLE again = CreateFileW((tmp + L"\\broken.txt").c_str(), GENERIC_WRITE, 0,
                             nullptr, OPEN_EXISTING, 0, nullptr);
  EXPECT_NE(INVALID_HANDLE_VALUE, again);
  CloseHandle(again);
}

TEST_F(ExtractTest, AFileWhereAFolderShouldBeStopsTheUnpacking) {
  WriteBytes(tmp + L"\\Talvorn", "a file where a folder should be");
  Bytes archive = BuildArchive({{"zlib1.dll", ZlibDll()},
                                {"Talvorn\\x.txt", ToBytes("x")}});
  ExtractOutcome outcome = Extract(archive);
  EXPECT_TRUE(outcome.raised);
  ASSERT_EQ(1u, boxes.boxes.size());
  EXPECT_EQ(L"Error creating target file " + tmp + L"\\Talvorn\\x.txt Error=" +
                std::to_wstring(outcome.code),
            boxes.boxes[0].text);
}

}  // namespace
