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

TEST_F(UnpackEndToEndTest, ADamagedStreamStopsTheRunBeforeTheSetupProgram) {
  Outcome run = Start({L"e2e_corrupt.exe", "show,wait=300,install"});
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
