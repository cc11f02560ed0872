#include "support/file_util.h"

#include <sddl.h>

#include <cstdlib>

#include "security/admin_control.h"
#include "support/errors.h"
#include "support/file_entry.h"
#include "support/log.h"
#include "tests/test_support.h"

namespace {

class FileUtilTest : public ExtractorTest {
 protected:
  void SetUp() override {
    ExtractorTest::SetUp();
    OpenExtractionLog(scratch.path().c_str());
  }
};

std::string Utf16Bytes(const std::wstring& text) {
  return std::string(reinterpret_cast<const char*>(text.c_str()),
                     text.size() * 2);
}

TEST_F(FileUtilTest, ReadFileContentsAddsZerosSoTextsReadDirectly) {
  std::wstring path = scratch / L"InstalledApp.txt";
  std::wstring text = L"\xFEFF" L"C:\\Program Files\\x.exe";
  WriteBytes(path, Utf16Bytes(text));
  uint8_t* block = ReadFileContents(path.c_str());
  ASSERT_NE(nullptr, block);
  EXPECT_EQ(text, reinterpret_cast<const wchar_t*>(block));  // BOM kept
  std::free(block);

  WriteBytes(path, "odd");  // 8-bit text, odd length
  block = ReadFileContents(path.c_str());
  ASSERT_NE(nullptr, block);
  EXPECT_STREQ("odd", reinterpret_cast<const char*>(block));
  // Read as 16-bit text it still ends inside the block.
  EXPECT_EQ(2, lstrlenW(reinterpret_cast<const wchar_t*>(block)));
  std::free(block);
  EXPECT_TRUE(boxes.boxes.empty());
}

TEST_F(FileUtilTest, ReadFileContentsReportsEachFailureWithTheErrorIcon) {
  std::wstring missing = scratch / L"missing.txt";
  std::wstring empty = scratch / L"empty.txt";
  WriteBytes(empty, "");
  // Sparse files whose size, with the zeros added, would wrap the block to a
  // few bytes: just under 4 GiB, and past it.
  std::wstring huge = scratch / L"huge.txt";
  auto sizeTo = [&](LONGLONG size) {
    HANDLE file = CreateFileW(huge.c_str(), GENERIC_WRITE, 0, nullptr,
                              CREATE_ALWAYS, 0, nullptr);
    LARGE_INTEGER end;
    end.QuadPart = size;
    bool sized = SetFilePointerEx(file, end, nullptr, FILE_BEGIN) && SetEndOfFile(file);
    CloseHandle(file);
    return sized;
  };
  EXPECT_EQ(nullptr, ReadFileContents(missing.c_str()));
  EXPECT_EQ(nullptr, ReadFileContents(empty.c_str()));
  ASSERT_TRUE(sizeTo(0xFFFFFFFELL));
  EXPECT_EQ(nullptr, ReadFileContents(huge.c_str()));
  ASSERT_TRUE(sizeTo(0x100000001LL));
  EXPECT_EQ(nullptr, ReadFileContents(huge.c_str()));
  ASSERT_TRUE(sizeTo(0xFFFFFFFFLL));  // its low half reads as a failed size
  EXPECT_EQ(nullptr, ReadFileContents(huge.c_str()));
  EXPECT_EQ((std::vector<std::wstring>{
                L"Could not open file \"" + missing + L"\"",
                L"ReadFileContents empty", L"Memory error", L"Memory error",
                L"Memory error"}),
            boxes.Texts());
  EXPECT_EQ(UINT(MB_OK | MB_ICONERROR), boxes.boxes[1].flags);
  EXPECT_EQ(1, errorShown);
}

TEST_F(FileUtilTest, FileExistsOnlyForFilesNobodyHoldsOpen) {
  std::wstring path = scratch / L"cancel.txt";
  EXPECT_FALSE(FileExists(path.c_str()));
  WriteBytes(path, "");
  EXPECT_TRUE(FileExists(path.c_str()));
  EXPECT_FALSE(FileExists(scratch.path().c_str()));  // a folder
  HANDLE held = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ,
                            nullptr, OPEN_EXISTING, 0, nullptr);
  ASSERT_NE(INVALID_HANDLE_VALUE, held);
  EXPECT_FALSE(FileExists(path.c_str()));
  CloseHandle(held);
  EXPECT_TRUE(FileExists(path.c_str()));
  EXPECT_TRUE(FolderExists(scratch.path().c_str()));
  EXPECT_FALSE(FolderExists(path.c_str()));
}

TEST_F(FileUtilTest, WriteOrFailRaisesWithItsLabel) {
  std::wstring path = scratch / L"readonly.bin";
  WriteBytes(path, "x");
  HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, 0, nullptr,
                            OPEN_EXISTING, 0, nullptr);
  int code = 0;
  try {
    WriteOrFail("abc", 3, file, "Writing raw data");
  } catch (CException* e) {
    code = e->code;
  }
  CloseHandle(file);
  EXPECT_EQ(-1, code);
  ASSERT_EQ(1u, boxes.boxes.size());
  EXPECT_EQ(L"Error writing Writing raw data", boxes.boxes[0].text);
  EXPECT_EQ(UINT(MB_OK), boxes.boxes[0].flags);
}

TEST(PathTest, AppendBackslashAddsExactlyOne) {
  wchar_t path[8] = L"C:\\dir";
  EXPECT_TRUE(AppendBackslash(path, 8));
  EXPECT_STREQ(L"C:\\dir\\", path);
  EXPECT_TRUE(AppendBackslash(path, 8));
  EXPECT_STREQ(L"C:\\dir\\", path);
  wchar_t empty[2] = L"";
  EXPECT_TRUE(AppendBackslash(empty, 2));
  EXPECT_STREQ(L"\\", empty);
  wchar_t full[4] = L"C:x";
  EXPECT_FALSE(AppendBackslash(full, 4));
  EXPECT_STREQ(L"C:x", full);
}

TEST(PathTest, CutLastComponentNeverCutsALeadingBackslash) {
  const wchar_t* const cases[][2] = {{L"C:\\dir\\x.exe", L"C:\\dir"},
                                     {L"C:\\x.exe", L"C:"},
                                     {L"\\name", L"\\name"},
                                     {L"plain", L"plain"},
                                     {L"", L""}};
  for (const auto& c : cases) {
    wchar_t path[32];
    lstrcpyW(path, c[0]);
    CutLastComponent(path);
    EXPECT_STREQ(c[1], path) << c[0];
  }
}

TEST(PathTest, JoinPathEmptiesAPathThatDoesNotFit) {
  wchar_t out[13];
  EXPECT_TRUE(JoinPath(out, 13, L"C:\\tmp", L"a.txt"));
  EXPECT_STREQ(L"C:\\tmp\\a.txt", out);
  EXPECT_TRUE(JoinPath(out, 13, L"C:\\", L"b"));
  EXPECT_STREQ(L"C:\\b", out);
  EXPECT_FALSE(JoinPath(out, 13, L"C:\\tmp", L"ab.txt"));
  EXPECT_STREQ(L"", out);
}

TEST(PathTest, ModulePathIsThisProgram) {
  wchar_t path[kModulePathSize];
  GetModulePath(path);
  wchar_t expected[MAX_PATH];
  GetModuleFileNameW(nullptr, expected, MAX_PATH);
  EXPECT_STREQ(expected, path);
}

TEST(PathTest, SpecialFoldersEndInABackslash) {
  wchar_t folder[kFolderPathSize];
  using Getter = bool (*)(wchar_t*);
  for (Getter get : {static_cast<Getter>(GetDocumentsFolder),
                     static_cast<Getter>(GetDesktopFolder),
                     static_cast<Getter>(GetProgramFilesFolder)}) {
    ASSERT_TRUE(get(folder));
    size_t n = wcslen(folder);
    ASSERT_GT(n, 3u);
    EXPECT_EQ(L'\\', folder[n - 1]);
    EXPECT_NE(L'\\', folder[n - 2]);
    EXPECT_TRUE(FolderExists(folder)) << folder;
  }
  ASSERT_TRUE(GetProgramsSubfolder(folder, L"Talvorn"));
  std::wstring programs(folder);
  EXPECT_EQ(L"\\Talvorn", programs.substr(programs.size() - 8));
}

}  // namespace

namespace {

// Who may change a file or folder, read from its descriptor as written in
// SDDL: only SYSTEM, Administrators and TrustedInstaller may.
TEST(EntryTest, OnlyAdministratorsMayChangeWhatTheRunStarts) {
  const wchar_t kUser[] = L"S-1-5-21-1-2-3-1001";
  const wchar_t kInstaller[] =
      L"S-1-5-80-956008885-3418522649-1831038044-1850970518-4032244312";
  const struct {
    std::wstring sddl;
    bool only;
    bool movedOnlyByAdministrators;  // as a folder above what the run uses
  } cases[] = {
      // tmp-n's (elevated) and C:\Talvorn's own
      {L"O:BAD:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)(A;OICI;0x20000;;;OW)", true, true},
      {L"O:BAD:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)(A;OICI;0x1200a9;;;BU)"
       L"(A;OICI;0x1200a9;;;OW)",
       true, true},
      // owned by the user, who may rewrite the DACL, whatever OWNER RIGHTS
      // says: the user made the folder and may have given it any DACL
      {L"O:" + std::wstring(kUser) + L"D:(A;;FA;;;SY)(A;;FA;;;BA)", false, false},
      {L"O:" + std::wstring(kUser) + L"D:(A;;FA;;;BA)(A;;0x1200a9;;;OW)", false, false},
      {L"O:" + std::wstring(kUser) + L"D:(A;;FA;;;BA)(A;;FA;;;OW)", false, false},
      // what a folder under C:\ inherits: Authenticated Users may modify
      {L"O:BAD:(A;;FA;;;SY)(A;;FA;;;BA)(A;;0x1301bf;;;AU)", false, false},
      // adding a file, attributes, extended attributes, generic write: each
      // changes the entry; deleting a child also what is in a folder
      {L"O:BAD:(A;;FA;;;BA)(A;;0x100002;;;BU)", false, true},
      {L"O:BAD:(A;;FA;;;BA)(A;;0x100100;;;BU)", false, true},
      {L"O:BAD:(A;;FA;;;BA)(A;;0x100010;;;BU)", false, true},
      {L"O:BAD:(A;;FA;;;BA)(A;;GW;;;WD)", false, true},
      {L"O:BAD:(A;;FA;;;BA)(A;;0x40;;;BU)", false, false},
      // C:\ProgramData: users may add folders, but move nothing in it
      {L"O:SYD:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)(A;CI;0x100116;;;BU)"
       L"(A;OICIIO;GA;;;CO)",
       false, true},
      // reading, passing on to children only, and denials change nothing
      {L"O:BAD:(A;;FA;;;BA)(A;;0x1200a9;;;BU)(A;OICIIO;FA;;;CO)(D;;FA;;;WD)",
       true, true},
      {L"O:" + std::wstring(kInstaller) + L"D:(A;;FA;;;" + kInstaller +
           L")(A;;0x1200a9;;;BU)",
       true, true},
      // no owner is unknown
      {L"D:(A;;FA;;;BA)", false, false},
  };
  for (const auto& c : cases) {
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    ASSERT_TRUE(ConvertStringSecurityDescriptorToSecurityDescriptorW(
        c.sddl.c_str(), SDDL_REVISION_1, &descriptor, nullptr))
        << Narrow(c.sddl);
    EXPECT_EQ(c.only, OnlyAdministratorsCanChange(descriptor)) << Narrow(c.sddl);
    EXPECT_EQ(c.movedOnlyByAdministrators, OnlyAdministratorsCanMoveWithin(descriptor))
        << Narrow(c.sddl);
    LocalFree(descriptor);
  }
  // A null DACL grants everyone everything.
  SECURITY_DESCRIPTOR open;
  BYTE admins[SECURITY_MAX_SID_SIZE];
  DWORD size = sizeof admins;
  CreateWellKnownSid(WinBuiltinAdministratorsSid, nullptr, admins, &size);
  InitializeSecurityDescriptor(&open, SECURITY_DESCRIPTOR_REVISION);
  SetSecurityDescriptorOwner(&open, admins, FALSE);
  SetSecurityDescriptorDacl(&open, TRUE, nullptr, FALSE);
  EXPECT_FALSE(OnlyAdministratorsCanChange(&open));
  // Wine keeps no descriptor on files: what it reads back (the Unix owner
  // as the user, and a DACL from the mode bits) never counts as closed.
  ScratchFolder scratch;
  WriteBytes(scratch / L"file.exe", "x");
  HANDLE file = CreateFileW((scratch / L"file.exe").c_str(), READ_CONTROL, 7,
                            nullptr, OPEN_EXISTING, 0, nullptr);
  EXPECT_FALSE(OnlyAdministratorsCanChangeEntry(file));
  CloseHandle(file);
}

// The path a handle resolves to: through a link above, to where it leads;
// and a name that leads elsewhere, which Wine shows as a plain file.
TEST(EntryTest, ResolvedPathsAndNamesThatLeadElsewhere) {
  ScratchFolder scratch;
  std::wstring real = scratch / L"real";
  CreateDirectoryW(real.c_str(), nullptr);
  WriteBytes(real + L"\\file.txt", "x");
  ASSERT_TRUE(MakeUnixLink(scratch / L"above", real));
  ASSERT_TRUE(MakeUnixLink(scratch / L"named.txt", real + L"\\file.txt"));
  wchar_t resolved[MAX_PATH];
  HANDLE through = OpenEntry((scratch / L"above\\file.txt").c_str(),
                             FILE_READ_ATTRIBUTES, 7);
  ASSERT_TRUE(FinalPath(through, resolved, MAX_PATH));
  EXPECT_EQ(real + L"\\file.txt", resolved);
  EXPECT_FALSE(FinalPath(through, resolved, 10));  // does not fit
  EXPECT_FALSE(LeadsElsewhere(through, (scratch / L"above\\file.txt").c_str()));
  CloseHandle(through);
  for (const wchar_t* name : {L"above", L"named.txt"}) {
    HANDLE entry = OpenEntry((scratch / name).c_str(), FILE_READ_ATTRIBUTES, 7);
    EXPECT_TRUE(LeadsElsewhere(entry, (scratch / name).c_str())) << Narrow(name);
    CloseHandle(entry);
    EXPECT_FALSE(DeleteEntryItself((scratch / name).c_str()));
  }
  EXPECT_EQ("x", ReadBytes(real + L"\\file.txt"));
  RemoveUnixLink(scratch / L"above");
  RemoveUnixLink(scratch / L"named.txt");
}

}  // namespace
