// The real extractor, run from outside: what it leaves behind when the
// payload has no entries, is missing, or is damaged, and which DLLs it loads.
#include "tests/e2e/e2e_support.h"

namespace {

class UnpackEndToEndTest : public EndToEndTest {};

TEST_F(UnpackEndToEndTest, APayloadWithoutEntriesEndsQuietlyKeepingTheLog) {
  Outcome run = Start({L"e2e_empty.exe"});
  EXPECT_EQ(0u, run.exitCode);
  EXPECT_TRUE(run.boxes.empty());
  EXPECT_TRUE(run.logLeft);
  EXPECT_TRUE(run.tmpLeft);
  ASSERT_EQ(5u, run.log.size());
  EXPECT_EQ(folder + L"\\TLExtractorLog.txt", run.log[0]);
  EXPECT_EQ(11u, run.log[1].size());  // the build date, "Mar  6 2023"
  EXPECT_EQ(folder + L"\\TalvornSetup.exe", run.log[2]);
  EXPECT_EQ(L"Path=\"" + folder + L"\\TalvornSetup.exe\" archiveDir=\"" + folder +
                L"\\tmp-1\"",
            run.log[3]);
  EXPECT_EQ(L"ExtractFiles destDir=" + folder + L"\\tmp-1", run.log[4]);
  EXPECT_EQ(std::vector<std::string>{"Status"}, run.seen);
}

// An extractor at a drive's root works at that root, not in the drive's
// current folder, which "T:" alone would name: here T:\sub, the folder the
// run starts in (drive T: is a fixture folder of its own).
TEST_F(UnpackEndToEndTest, AnExtractorAtADrivesRootWorksAtTheRoot) {
  if (!PathExists(L"T:\\precious.txt")) GTEST_SKIP() << "drive T: is not mapped";
  CreateDirectoryW(L"T:\\sub", nullptr);
  folder = L"T:";
  Outcome run = Start({L"e2e_empty.exe", "", {}, {{L"=T:", L"T:\\sub"}}});
  EXPECT_TRUE(run.tmpLeft);
  EXPECT_FALSE(PathExists(L"T:\\sub\\tmp-1"));
  ASSERT_EQ(5u, run.log.size());
  EXPECT_EQ(L"ExtractFiles destDir=T:\\tmp-1", run.log[4]);
  for (const wchar_t* made : {L"T:\\tmp-1", L"T:\\sub"}) RemoveTree(made);
  for (const wchar_t* made : {L"T:\\TalvornSetup.exe", L"T:\\TLExtractorLog.txt"}) {
    DeleteFileW(made);
  }
}

TEST_F(UnpackEndToEndTest, AMissingPayloadIsReportedAndNothingIsStarted) {
  Outcome run = Start({L"..\\TalvornSetupStub.exe"});
  EXPECT_EQ(0u, run.exitCode);
  EXPECT_EQ((std::vector<Box>{{"Error", "Error finding installer application",
                               "OK", "error"}}),
            run.boxes);
  EXPECT_TRUE(run.logLeft);
  EXPECT_EQ(4u, run.log.size());  // the box itself is not logged
  EXPECT_TRUE(run.records.empty());
}

// Damaged in the middle, with a wrong Adler-32 (which decodes cleanly and is
// found only at the very end), or cut short: never installed from.
TEST_F(UnpackEndToEndTest, ADamagedStreamStopsTheRunBeforeTheSetupProgram) {
  for (const wchar_t* extractor : {L"e2e_corrupt.exe", L"e2e_badcheck.exe", L"e2e_cut.exe"}) {
    RemoveTree(folder);
    CreateDirectoryW(folder.c_str(), nullptr);
    Outcome run = Start({extractor, "show,wait=300,install"});
    SCOPED_TRACE(Narrow(extractor));
    EXPECT_EQ(0u, run.exitCode);
    EXPECT_EQ((std::vector<Box>{{"Error", "Error in unzip inflate 101", "OK", "error"}}),
              run.boxes);
    EXPECT_TRUE(run.records.empty());  // InstallTalvorn.exe never ran
    EXPECT_TRUE(run.logLeft);
    EXPECT_TRUE(run.tmpLeft);
    EXPECT_EQ(L"Error in unzip inflate 101", run.log.back());
    EXPECT_TRUE(PathExists(folder + L"\\tmp-1\\Talvorn Server.exe"));
    EXPECT_FALSE(PathExists(folder + L"\\tmp-1\\InstallTalvorn.exe"));
  }
}

TEST_F(UnpackEndToEndTest, AnEntryNamedOutsideTheFolderIsRefused) {
  Outcome run = Start({L"e2e_evilname.exe", "show,wait=300,install"});
  EXPECT_EQ(0u, run.exitCode);
  ASSERT_EQ(1u, run.boxes.size());
  EXPECT_EQ("Error in payload entry \"..\\evil.txt\" (the name has a \".\" or "
            "\"..\" component) Error=-1",
            run.boxes[0].text);
  EXPECT_EQ("none", run.boxes[0].icon);
  EXPECT_FALSE(PathExists(folder + L"\\evil.txt"));
  EXPECT_FALSE(PathExists(folder + L"\\tmp-1\\Uninstall.exe"));
  EXPECT_TRUE(run.records.empty());
}

// Drive S: is a small tmpfs (tests/checks/make_fixtures.sh). There a write
// can succeed with fewer bytes than asked: the extractor must take that as
// the failed write it is. The disk is filled so that the cut falls in the
// raw zlib1.dll, or in the last write of the inflated "Talvorn Server.exe"
// (after which a silent cut would let the next entry be unpacked).
TEST_F(UnpackEndToEndTest, AFullDiskStopsTheRunAtTheShortWrite) {
  ULARGE_INTEGER free = {};
  if (!GetDiskFreeSpaceExW(L"S:\\", &free, nullptr, nullptr)) {
    GTEST_SKIP() << "drive S: (a small tmpfs) is not mapped on this machine";
  }
  const ULONGLONG kPage = 4096;
  auto pages = [&](ULONGLONG bytes) { return (bytes + kPage - 1) / kPage; };
  ULONGLONG zlib = ReadBytes(ProgramFolder() + L"\\zlib\\zlib1.dll").size();
  ULONGLONG server = ReadBytes(TestkitFile(L"Talvorn Server.exe")).size();
  // The last 100,000-byte write must begin before the server's last page.
  ASSERT_LT((server - 1) / 100000 * 100000, (pages(server) - 1) * kPage);
  const struct {
    const wchar_t* cut;
    ULONGLONG whole;      // the cut file's full size
    ULONGLONG roomPages;  // the log's first page, then what the files may take
    std::string box;
    const wchar_t* next;  // the entry after the cut one, never made
  } cases[] = {
      {L"zlib1.dll", zlib, 1 + 16, "Error writing Writing raw data",
       L"Talvorn Server.exe"},
      {L"Talvorn Server.exe", server, 1 + pages(zlib) + pages(server) - 1,
       "Read writing zip to dest Error=-1", L"Licence.txt"},
  };
  for (const auto& c : cases) {
    RemoveTree(L"S:\\run");
    DeleteFileW(L"S:\\filler.bin");
    folder = L"S:\\run";
    CreateDirectoryW(folder.c_str(), nullptr);
    std::wstring exe = folder + L"\\TalvornSetup.exe";
    CopyFileW((ProgramFolder() + L"\\e2e_demo.exe").c_str(), exe.c_str(), FALSE);
    GetDiskFreeSpaceExW(L"S:\\", &free, nullptr, nullptr);
    ASSERT_GT(free.QuadPart, c.roomPages * kPage);
    WriteBytes(L"S:\\filler.bin", std::string(free.QuadPart - c.roomPages * kPage, 'f'));
    Outcome run = Start({L"e2e_demo.exe", "show,wait=300,install"});
    EXPECT_EQ(0u, run.exitCode);
    EXPECT_EQ((std::vector<Box>{{"Error", c.box, "OK", "none"}}), run.boxes);
    EXPECT_TRUE(run.records.empty());  // the setup program never ran
    EXPECT_TRUE(PathExists(folder + L"\\TLExtractorLog.txt"));
    std::wstring cut = folder + L"\\tmp-1\\" + c.cut;
    EXPECT_TRUE(PathExists(cut));
    EXPECT_LT(ReadBytes(cut).size(), c.whole);
    EXPECT_FALSE(PathExists(folder + L"\\tmp-1\\" + c.next));
  }
  RemoveTree(L"S:\\run");
  DeleteFileW(L"S:\\filler.bin");
}

// A DLL named like one the dialog code loads by name is planted beside the
// extractor. Wine is told to prefer native files for it in this program, as
// Windows always does, so only the extractor's own search restriction keeps
// it out.
TEST_F(UnpackEndToEndTest, ADllPlantedBesideTheExtractorIsNotLoaded) {
  std::wstring planted = folder + L"\\uxtheme.dll";
  ASSERT_TRUE(CopyFileW((ProgramFolder() + L"\\marker_dll.dll").c_str(),
                        planted.c_str(), FALSE));
  const wchar_t kOverrides[] =
      L"Software\\Wine\\AppDefaults\\TalvornSetup.exe\\DllOverrides";
  HKEY key;
  ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyW(HKEY_CURRENT_USER, kOverrides, &key));
  const wchar_t kNativeFirst[] = L"native,builtin";
  RegSetValueExW(key, L"uxtheme", 0, REG_SZ,
                 reinterpret_cast<const BYTE*>(kNativeFirst), sizeof kNativeFirst);
  RegCloseKey(key);
  Outcome run = Start({L"e2e_empty.exe"});
  RegDeleteKeyW(HKEY_CURRENT_USER, kOverrides);
  EXPECT_EQ(0u, run.exitCode);
  EXPECT_EQ(std::vector<std::string>{"Status"}, run.seen);  // the dialog ran
  EXPECT_FALSE(PathExists(planted + L".loaded"));
}

}  // namespace
