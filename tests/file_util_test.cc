#include "support/file_util.h"

#include <bcrypt.h>
#include <sddl.h>

#include <cstdlib>

#include "security/admin_control.h"
#include "support/errors.h"
#include "support/file_entry.h"
#include "support/log.h"
#include "support/seams.h"
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

// The SID Windows gives the service of that name, derived as Windows derives
// it, with a hash of this test's own rather than the judge's: S-1-5-80 and
// the SHA-1 of the name in capitals, UTF-16LE, as five little-endian numbers.
std::wstring ServiceSid(std::wstring name) {
  CharUpperBuffW(&name[0], static_cast<DWORD>(name.size()));
  BCRYPT_ALG_HANDLE algorithm = nullptr;
  BCRYPT_HASH_HANDLE hash = nullptr;
  UCHAR digest[20] = {};
  if (BCryptOpenAlgorithmProvider(&algorithm, BCRYPT_SHA1_ALGORITHM, nullptr, 0) != 0 ||
      BCryptCreateHash(algorithm, &hash, nullptr, 0, nullptr, 0, 0) != 0 ||
      BCryptHashData(hash, reinterpret_cast<PUCHAR>(&name[0]),
                     static_cast<ULONG>(name.size() * 2), 0) != 0 ||
      BCryptFinishHash(hash, digest, sizeof digest, 0) != 0) {
    ADD_FAILURE() << "no SHA-1";
  }
  if (hash != nullptr) BCryptDestroyHash(hash);
  if (algorithm != nullptr) BCryptCloseAlgorithmProvider(algorithm, 0);
  std::wstring sid = L"S-1-5-80";
  for (int i = 0; i < 20; i += 4) {
    uint32_t n = digest[i] | digest[i + 1] << 8 | digest[i + 2] << 16 |
                 static_cast<uint32_t>(digest[i + 3]) << 24;
    sid += L"-" + std::to_wstring(n);
  }
  return sid;
}

struct Verdict {
  const char* what;
  std::wstring sddl;
  bool only;                      // administrators alone can change it
  bool movedOnlyByAdministrators; // as a folder above what the run uses
};

void ExpectVerdicts(const Verdict& c) {
  SCOPED_TRACE(c.what);
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  ASSERT_TRUE(ConvertStringSecurityDescriptorToSecurityDescriptorW(
      c.sddl.c_str(), SDDL_REVISION_1, &descriptor, nullptr))
      << Narrow(c.sddl);
  EXPECT_EQ(c.only, OnlyAdministratorsCanChange(descriptor)) << Narrow(c.sddl);
  EXPECT_EQ(c.movedOnlyByAdministrators, OnlyAdministratorsCanMoveWithin(descriptor))
      << Narrow(c.sddl);
  LocalFree(descriptor);
}

// Who may change a file or folder, read from its descriptor as written in
// SDDL: only SYSTEM, Administrators and TrustedInstaller may.
TEST(EntryTest, OnlyAdministratorsMayChangeWhatTheRunStarts) {
  const std::wstring kUser = L"S-1-5-21-1-2-3-1001";
  const std::wstring kInstaller = ServiceSid(L"TrustedInstaller");
  const Verdict cases[] = {
      {"tmp-n's (elevated)",
       L"O:BAD:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)(A;OICI;0x20000;;;OW)", true, true},
      {"C:\\Talvorn's own",
       L"O:BAD:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)(A;OICI;0x1200a9;;;BU)"
       L"(A;OICI;0x1200a9;;;OW)",
       true, true},
      // owned by the user, who may rewrite the DACL, whatever OWNER RIGHTS
      // says: the user made the folder and may have given it any DACL
      {"a user's", L"O:" + kUser + L"D:(A;;FA;;;SY)(A;;FA;;;BA)", false, false},
      {"a user's, OWNER RIGHTS read", L"O:" + kUser + L"D:(A;;FA;;;BA)(A;;0x1200a9;;;OW)",
       false, false},
      {"a user's, OWNER RIGHTS all", L"O:" + kUser + L"D:(A;;FA;;;BA)(A;;FA;;;OW)", false,
       false},
      // adding a file, a subfolder, attributes, extended attributes, generic
      // write: each changes the entry; deleting a child also what is in a
      // folder
      {"add a file", L"O:BAD:(A;;FA;;;BA)(A;;0x100002;;;BU)", false, true},
      {"add a subfolder", L"O:BAD:(A;;FA;;;BA)(A;;0x100004;;;BU)", false, true},
      {"attributes", L"O:BAD:(A;;FA;;;BA)(A;;0x100100;;;BU)", false, true},
      {"extended attributes", L"O:BAD:(A;;FA;;;BA)(A;;0x100010;;;BU)", false, true},
      {"generic write", L"O:BAD:(A;;FA;;;BA)(A;;GW;;;WD)", false, true},
      {"delete a child", L"O:BAD:(A;;FA;;;BA)(A;;0x40;;;BU)", false, false},
      // reading, passing on to children only, and denials change nothing
      {"reading, inherit-only, denials",
       L"O:BAD:(A;;FA;;;BA)(A;;0x1200a9;;;BU)(A;OICIIO;FA;;;CO)(D;;FA;;;WD)", true, true},
      {"TrustedInstaller's",
       L"O:" + kInstaller + L"D:(A;;FA;;;" + kInstaller + L")(A;;0x1200a9;;;BU)", true,
       true},
      // another service's SID is no administrator's
      {"another service's", L"O:" + ServiceSid(L"WSearch") + L"D:(A;;FA;;;BA)", false,
       false},
      {"no owner", L"D:(A;;FA;;;BA)", false, false},
  };
  for (const Verdict& c : cases) ExpectVerdicts(c);
  // A null DACL grants everyone everything.
  SECURITY_DESCRIPTOR open;
  BYTE admins[SECURITY_MAX_SID_SIZE];
  DWORD size = sizeof admins;
  CreateWellKnownSid(WinBuiltinAdministratorsSid, nullptr, admins, &size);
  InitializeSecurityDescriptor(&open, SECURITY_DESCRIPTOR_REVISION);
  SetSecurityDescriptorOwner(&open, admins, FALSE);
  SetSecurityDescriptorDacl(&open, TRUE, nullptr, FALSE);
  EXPECT_FALSE(OnlyAdministratorsCanChange(&open));
  // Kinds of allow ACE whose reach the judge does not read, each granting
  // Users write: an object ACE without object types (flags 0), which grants
  // as a plain one would, and a compound one (type impersonation, then a
  // server and a client SID). Both: header, mask, a word, then the SIDs.
  BYTE users[SECURITY_MAX_SID_SIZE];
  size = sizeof users;
  CreateWellKnownSid(WinBuiltinUsersSid, nullptr, users, &size);
  for (BYTE type : {BYTE{ACCESS_ALLOWED_OBJECT_ACE_TYPE}, BYTE{4}}) {
    SCOPED_TRACE(type == 4 ? "a compound ACE" : "an object ACE");
    DWORD raw[64] = {};
    auto* acl = reinterpret_cast<ACL*>(raw);
    ASSERT_TRUE(InitializeAcl(acl, sizeof raw, ACL_REVISION_DS));
    DWORD sid = GetLengthSid(users);
    int sids = type == 4 ? 2 : 1;
    BYTE* ace = reinterpret_cast<BYTE*>(acl) + sizeof(ACL);
    WORD length = static_cast<WORD>(12 + sids * sid);
    DWORD write = FILE_WRITE_DATA;
    ace[0] = type;
    CopyMemory(ace + 2, &length, 2);
    CopyMemory(ace + 4, &write, 4);
    ace[8] = type == 4 ? 1 : 0;  // COMPOUND_ACE_IMPERSONATION; no object types
    for (int i = 0; i < sids; ++i) CopyMemory(ace + 12 + i * sid, users, sid);
    acl->AceCount = 1;
    SECURITY_DESCRIPTOR granting;
    InitializeSecurityDescriptor(&granting, SECURITY_DESCRIPTOR_REVISION);
    SetSecurityDescriptorOwner(&granting, admins, FALSE);
    SetSecurityDescriptorDacl(&granting, TRUE, acl, FALSE);
    EXPECT_FALSE(OnlyAdministratorsCanChange(&granting));
    EXPECT_FALSE(OnlyAdministratorsCanMoveWithin(&granting));
  }
  // Wine keeps no descriptor on files: what it reads back (the Unix owner
  // as the user, and a DACL from the mode bits) never counts as closed.
  ScratchFolder scratch;
  WriteBytes(scratch / L"file.exe", "x");
  HANDLE file = CreateFileW((scratch / L"file.exe").c_str(), READ_CONTROL, 7,
                            nullptr, OPEN_EXISTING, 0, nullptr);
  EXPECT_FALSE(OnlyAdministratorsCanChangeEntry(file));
  CloseHandle(file);
}

// The places the run judges, as Windows 10 and 11 hold them: what a
// standard user can change there is what the judge must refuse, and what
// only SYSTEM, Administrators and TrustedInstaller can change it must trust.
TEST(EntryTest, WindowsOwnPlacesAreJudgedAsWindowsHoldsThem) {
  // "sc showsid TrustedInstaller", as Microsoft's Chris Jackson showed it:
  // https://blogs.msdn.microsoft.com/cjacks/2008/08/29/what-is-the-trustedinstaller-entity-you-see-in-windows-vista/
  const std::wstring ti = ServiceSid(L"TrustedInstaller");
  ASSERT_EQ(L"S-1-5-80-956008885-3418522649-1831038044-1853292631-2271478464", ti);
  const std::wstring user = L"S-1-5-21-1004336348-1177238915-682003330-1001";
  // ALL APPLICATION PACKAGES and ALL RESTRICTED APPLICATION PACKAGES
  // (https://learn.microsoft.com/windows/win32/secauthz/well-known-sids).
  const std::wstring ac = L"S-1-15-2-1", arac = L"S-1-15-2-2";
  // The system folders' DACL, protected: the defaults the Windows 10 STIG
  // lists for \Program Files and \Windows (rule WN10-00-000095), as icacls
  // shows them: TrustedInstaller full control of the folder and subfolders,
  // SYSTEM and Administrators modify here and full control below, Users and
  // the package groups read and execute, CREATOR OWNER below.
  const std::wstring systemFolder =
      L"D:PAI(A;;FA;;;" + ti + L")(A;CIIO;GA;;;" + ti + L")(A;;0x1301bf;;;SY)"
      L"(A;OICIIO;GA;;;SY)(A;;0x1301bf;;;BA)(A;OICIIO;GA;;;BA)(A;;0x1200a9;;;BU)"
      L"(A;OICIIO;GXGR;;;BU)(A;OICIIO;GA;;;CO)(A;;0x1200a9;;;" + ac + L")"
      L"(A;OICIIO;GXGR;;;" + ac + L")(A;;0x1200a9;;;" + arac + L")(A;OICIIO;GXGR;;;" +
      arac + L")";
  // C:\ as the same STIG rule lists it: Administrators, SYSTEM full control,
  // Users read and execute, Authenticated Users "create folders / append
  // data" here and modify below.
  const std::wstring root =
      L"D:PAI(A;OICI;FA;;;BA)(A;OICI;FA;;;SY)(A;OICI;0x1200a9;;;BU)"
      L"(A;OICIIO;SDGXGWGR;;;AU)(A;;0x100004;;;AU)";
  // What a folder a standard user makes under C:\ inherits from it (and so
  // a C:\Talvorn an older version made there, owned by Administrators).
  const std::wstring underRoot =
      L"D:AI(A;OICIID;FA;;;BA)(A;OICIID;FA;;;SY)(A;OICIID;0x1200a9;;;BU)"
      L"(A;ID;0x1301bf;;;AU)(A;OICIIOID;SDGXGWGR;;;AU)";
  const Verdict places[] = {
      // Owned by TrustedInstaller on current installations, by SYSTEM on
      // older ones. Others may add folders, but move nothing in it.
      {"C:\\, TrustedInstaller's", L"O:" + ti + L"G:" + ti + root, false, true},
      {"C:\\, SYSTEM's", L"O:SYG:SY" + root, false, true},
      {"C:\\Windows", L"O:" + ti + L"G:" + ti + systemFolder, true, true},
      {"C:\\Program Files", L"O:" + ti + L"G:" + ti + systemFolder, true, true},
      // GetTempPath2W: "C:\Windows\SystemTemp ... is inaccessible to
      // non-SYSTEM callers"
      // (https://learn.microsoft.com/windows/win32/api/fileapi/nf-fileapi-gettemppath2w):
      // closed to others, though the run itself may not be let in.
      {"C:\\Windows\\SystemTemp", L"O:SYG:SYD:PAI(A;OICI;FA;;;SY)", true, true},
      // accesschk -dl C:\ProgramData on Windows 10: owner SYSTEM, protected;
      // Users may add files and folders and write their attributes
      {"C:\\ProgramData",
       L"O:SYG:SYD:PAI(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)(A;OICIIO;GA;;;CO)"
       L"(A;OICI;0x1200a9;;;BU)(A;CI;0x116;;;BU)",
       false, true},
      // a folder a standard user made under C:\ProgramData: theirs
      {"a user's folder under C:\\ProgramData",
       L"O:" + user + L"G:" + user + L"D:AI(A;ID;FA;;;" + user +
           L")(A;OICIIOID;GA;;;CO)(A;OICIID;FA;;;SY)(A;OICIID;FA;;;BA)"
           L"(A;OICIID;0x1200a9;;;BU)(A;CIID;0x116;;;BU)",
       false, false},
      {"a user's folder under C:\\", L"O:" + user + L"G:" + user + underRoot, false,
       false},
      // what an elevated setup program makes under Program Files inherits,
      // as icacls shows it: TrustedInstaller full control of the folder
      {"a setup program's folder in Program Files",
       L"O:BAG:SYD:AI(A;ID;FA;;;" + ti + L")(A;CIIOID;GA;;;" + ti +
           L")(A;ID;FA;;;SY)(A;OICIIOID;GA;;;SY)(A;ID;FA;;;BA)(A;OICIIOID;GA;;;BA)"
           L"(A;ID;0x1200a9;;;BU)(A;OICIIOID;GXGR;;;BU)(A;OICIIOID;GA;;;CO)"
           L"(A;ID;0x1200a9;;;" + ac + L")(A;OICIIOID;GXGR;;;" + ac +
           L")(A;ID;0x1200a9;;;" + arac + L")(A;OICIIOID;GXGR;;;" + arac + L")",
       true, true},
      {"a file in it",
       L"O:BAG:SYD:AI(A;ID;FA;;;SY)(A;ID;FA;;;BA)(A;ID;0x1200a9;;;BU)"
       L"(A;ID;0x1200a9;;;" + ac + L")(A;ID;0x1200a9;;;" + arac + L")",
       true, true},
      // a profile folder's (SYSTEM, Administrators and the user, full
      // control), which Downloads and OneDrive inherit, made by the user
      {"Downloads",
       L"O:" + user + L"G:" + user + L"D:AI(A;OICIID;FA;;;SY)(A;OICIID;FA;;;BA)"
           L"(A;OICIID;FA;;;" + user + L")",
       false, false},
      {"OneDrive",
       L"O:" + user + L"G:" + user + L"D:AI(A;OICIID;FA;;;SY)(A;OICIID;FA;;;BA)"
           L"(A;OICIID;FA;;;" + user + L")",
       false, false},
      // C:\Talvorn as an older, elevated version made it under C:\, and its
      // copy, on which Authenticated Users may modify
      {"an older version's C:\\Talvorn", L"O:BAG:SY" + underRoot, false, false},
      {"its copy",
       L"O:BAG:SYD:AI(A;ID;FA;;;BA)(A;ID;FA;;;SY)(A;ID;0x1200a9;;;BU)"
       L"(A;ID;0x1301bf;;;AU)",
       false, false},
  };
  for (const Verdict& c : places) ExpectVerdicts(c);
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
  // What the loader is given is where the file lies, read from its handle;
  // on a volume without a drive letter, the system's own name through
  // GLOBALROOT; where neither can be read, nothing.
  EXPECT_TRUE(NameForLoader(through, resolved, MAX_PATH));
  EXPECT_EQ(real + L"\\file.txt", resolved);
  static bool dosNames;
  for (bool dos : {false, true}) {
    dosNames = dos;
    seams::finalPath = [](HANDLE entry, LPWSTR out, DWORD cap, DWORD flags) -> DWORD {
      if ((flags & VOLUME_NAME_NT) == 0 || !dosNames) return 0;
      return GetFinalPathNameByHandleW(entry, out, cap, flags);
    };
    bool named = NameForLoader(through, resolved, MAX_PATH);
    seams::finalPath = GetFinalPathNameByHandleW;
    // Wine opens no GLOBALROOT names: there the file is then not named at
    // all, as on Windows where the volume cannot be reached by that name.
    bool global = std::wstring(resolved).rfind(L"\\\\?\\GLOBALROOT\\Device\\", 0) == 0;
    EXPECT_EQ(named, global) << Narrow(resolved);
    EXPECT_TRUE(named || resolved[0] == 0) << Narrow(resolved);
    if (!dos) {
      EXPECT_FALSE(named);
    }
  }
  CloseHandle(through);
  for (const wchar_t* name : {L"above", L"named.txt"}) {
    HANDLE entry = OpenEntry((scratch / name).c_str(), FILE_READ_ATTRIBUTES, 7);
    EXPECT_TRUE(LeadsElsewhere(entry, (scratch / name).c_str())) << Narrow(name);
    CloseHandle(entry);
    EXPECT_FALSE(DeleteEntryItself((scratch / name).c_str()));
  }
  EXPECT_EQ("x", ReadBytes(real + L"\\file.txt"));
  // The same name on another volume is another entry: the root of drive T:
  // (a fixture folder of its own) does not hold C:\'s file of that name.
  WriteBytes(L"C:\\talvorn-named.txt", "c");
  WriteBytes(L"T:\\talvorn-named.txt", "t");
  HANDLE driveT = OpenEntry(L"T:\\", FILE_READ_ATTRIBUTES, 7);
  HANDLE driveC = OpenEntry(L"C:\\", FILE_READ_ATTRIBUTES, 7);
  HANDLE onC = OpenEntry(L"C:\\talvorn-named.txt", FILE_READ_ATTRIBUTES, 7);
  EXPECT_TRUE(IsNamedIn(driveC, L"talvorn-named.txt", onC));
  EXPECT_FALSE(IsNamedIn(driveT, L"talvorn-named.txt", onC));
  for (HANDLE h : {driveT, driveC, onC}) CloseHandle(h);
  DeleteFileW(L"C:\\talvorn-named.txt");
  DeleteFileW(L"T:\\talvorn-named.txt");
  RemoveUnixLink(scratch / L"above");
  RemoveUnixLink(scratch / L"named.txt");
}

}  // namespace
