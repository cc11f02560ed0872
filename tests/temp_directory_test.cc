// tmp-n: made under the lowest free number, relative to the held extractor
// folder or, where the extractor's volume cannot keep others out, the
// protected folder, with its protected descriptor, and held.
#include "payload/temp_directory.h"

#include <sddl.h>
#include <shlobj.h>

#include "payload/extract.h"
#include "payload/own_folder.h"
#include "security/elevation.h"
#include "security/folder_security.h"
#include "support/errors.h"
#include "support/file_entry.h"
#include "support/ntdll.h"
#include "support/process_level.h"
#include "support/seams.h"
#include "tests/payload_test_support.h"

namespace {

class TempDirectoryTest : public PayloadTest {
 protected:
  // Makes tmp-n in the folder at base, as the run does.
  std::wstring Make(const std::wstring& base) {
    HeldFolder folder = HeldAt(base);
    ReleaseHeldFolder(&made);
    try {
      CreateTempDirectory(folder, L"tmp", &made);
    } catch (CException*) {
      ReleaseHeldFolder(&folder);
      throw;
    }
    ReleaseHeldFolder(&folder);
    return made.path;
  }
  // Held without delete sharing: neither moved nor opened for deletion.
  static void ExpectHeld(const std::wstring& folder) {
    EXPECT_FALSE(MoveFileW(folder.c_str(), (folder + L"-away").c_str()));
    HANDLE forDelete = CreateFileW(folder.c_str(), DELETE, 7, nullptr, OPEN_EXISTING,
                                   FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    EXPECT_EQ(INVALID_HANDLE_VALUE, forDelete);
    if (forDelete != INVALID_HANDLE_VALUE) CloseHandle(forDelete);
  }
  void TearDown() override {
    ReleaseHeldFolder(&made);
    PayloadTest::TearDown();
  }
  HeldFolder made = {INVALID_HANDLE_VALUE, {}};
};

// Whatever holds a name, a folder or a file, it is passed over and never
// touched; the folder made is held until it is let go.
TEST_F(TempDirectoryTest, ExistingTempDirectoriesAreNeverReused) {
  for (bool file : {false, true}) {
    std::wstring base = scratch / (file ? L"file" : L"folder");
    CreateDirectoryW(base.c_str(), nullptr);
    if (file) {
      WriteBytes(base + L"\\tmp-1", "mine");
    } else {
      CreateDirectoryW((base + L"\\tmp-1").c_str(), nullptr);
      WriteBytes(base + L"\\tmp-1\\mine.txt", "mine");
    }
    std::wstring path = Make(base);
    EXPECT_EQ(base + L"\\tmp-2", path);
    EXPECT_EQ("mine", ReadBytes(base + (file ? L"\\tmp-1" : L"\\tmp-1\\mine.txt")));
    // Held, while files are made and renamed inside it as usual.
    std::wstring made = path;
    EXPECT_NE(INVALID_HANDLE_VALUE, this->made.handle);
    ExpectHeld(made);
    WriteBytes(made + L"\\a.txt", "a");
    EXPECT_TRUE(MoveFileW((made + L"\\a.txt").c_str(), (made + L"\\b.txt").c_str()));
    ReleaseHeldFolder(&this->made);
    EXPECT_TRUE(MoveFileW(made.c_str(), (base + L"\\away").c_str()));
  }

  std::wstring base = scratch / L"folder";
  for (int n = 1; n <= kMaxTempDirectoryNumber; ++n) {
    CreateDirectoryW((base + L"\\tmp-" + std::to_wstring(n)).c_str(), nullptr);
  }
  bool raised = false;
  try {
    Make(base);
  } catch (CException* e) {
    raised = e->code == -1;
  }
  EXPECT_TRUE(raised);
  EXPECT_EQ(INVALID_HANDLE_VALUE, made.handle);
  EXPECT_FALSE(PathExists(base + L"\\tmp-50"));
  ASSERT_EQ(1u, boxes.boxes.size());
  EXPECT_EQ(L"Can't create tmp directory Error=-1", boxes.boxes[0].text);
}

// tmp-n's descriptor, read back for this process's token (Wine's holds
// Administrators enabled) and for one that holds the group for deny only, as
// a standard user's does. Elevated, nobody but SYSTEM and Administrators has
// a right, and whoever comes to own a file inside may read its descriptor
// only, whatever the owner policy.
TEST_F(TempDirectoryTest, TheTempDirectoryDescriptorDependsOnTheToken) {
  HANDLE process;
  ASSERT_TRUE(OpenProcessToken(GetCurrentProcess(),
                               TOKEN_QUERY | TOKEN_DUPLICATE | TOKEN_ASSIGN_PRIMARY,
                               &process));
  BYTE system[SECURITY_MAX_SID_SIZE], admins[SECURITY_MAX_SID_SIZE];
  BYTE ownerRights[SECURITY_MAX_SID_SIZE];
  DWORD size = sizeof system;
  CreateWellKnownSid(WinLocalSystemSid, nullptr, system, &size);
  size = sizeof ownerRights;
  CreateWellKnownSid(WinCreatorOwnerRightsSid, nullptr, ownerRights, &size);
  size = sizeof admins;
  CreateWellKnownSid(WinBuiltinAdministratorsSid, nullptr, admins, &size);
  HANDLE standard = StandardUserToken(process);
  ASSERT_NE(nullptr, standard);
  TokenUserRecord user;
  ASSERT_TRUE(ReadTokenUser(process, &user));

  const DWORD kReadAndRun = FILE_GENERIC_READ | FILE_GENERIC_EXECUTE;
  const struct {
    HANDLE token;
    bool administrator;
    std::vector<std::pair<PSID, DWORD>> aces;
  } tokens[] = {
      {process, true,
       {{system, FILE_ALL_ACCESS}, {admins, FILE_ALL_ACCESS}, {ownerRights, READ_CONTROL}}},
      {standard, false,
       {{system, FILE_ALL_ACCESS}, {admins, FILE_ALL_ACCESS},
        {user.user.User.Sid, FILE_ALL_ACCESS}, {ownerRights, kReadAndRun}}}};
  for (const auto& t : tokens) {
    SCOPED_TRACE(t.administrator ? "administrator" : "standard user");
    EXPECT_EQ(t.administrator, TokenIsAdministrator(t.token));
    FolderSecurity security;
    ASSERT_TRUE(BuildTempSecurity(t.token, &security));
    PSECURITY_DESCRIPTOR descriptor = &security.descriptor;
    EXPECT_TRUE(IsValidSecurityDescriptor(descriptor));
    SECURITY_DESCRIPTOR_CONTROL control = 0;
    DWORD revision = 0;
    ASSERT_TRUE(GetSecurityDescriptorControl(descriptor, &control, &revision));
    EXPECT_EQ(SE_DACL_PRESENT | SE_DACL_PROTECTED, control);
    PSID owner = nullptr, group = nullptr;
    BOOL defaulted = FALSE, present = FALSE;
    GetSecurityDescriptorOwner(descriptor, &owner, &defaulted);
    GetSecurityDescriptorGroup(descriptor, &group, &defaulted);
    if (t.administrator) {
      ASSERT_NE(nullptr, owner);
      EXPECT_TRUE(EqualSid(owner, admins));
    } else {
      EXPECT_EQ(nullptr, owner);  // the token's default
    }
    EXPECT_EQ(nullptr, group);
    PACL acl = nullptr;
    ASSERT_TRUE(GetSecurityDescriptorDacl(descriptor, &present, &acl, &defaulted));
    ASSERT_TRUE(present && acl != nullptr);
    ASSERT_EQ(t.aces.size(), acl->AceCount);
    const auto& expected = t.aces;
    for (DWORD i = 0; i < acl->AceCount; ++i) {
      ACCESS_ALLOWED_ACE* ace = nullptr;
      ASSERT_TRUE(GetAce(acl, i, reinterpret_cast<void**>(&ace)));
      EXPECT_EQ(ACCESS_ALLOWED_ACE_TYPE, ace->Header.AceType) << i;
      EXPECT_EQ(OBJECT_INHERIT_ACE | CONTAINER_INHERIT_ACE, ace->Header.AceFlags) << i;
      EXPECT_EQ(expected[i].second, ace->Mask) << i;
      EXPECT_TRUE(EqualSid(&ace->SidStart, expected[i].first)) << i;
    }
  }
  CloseHandle(standard);
  CloseHandle(process);
}

// Any other failure ends the attempts at once and hands the candidate back,
// with the reason.
TEST_F(TempDirectoryTest, AFolderThatCannotBeMadeIsHandedBackUnheld) {
  // A file held where the folder should be: nothing can be made inside.
  WriteBytes(scratch / L"file", "not a folder");
  HeldFolder base = HeldAt(scratch.path());
  CloseHandle(base.handle);
  lstrcpyW(base.path, (scratch / L"file").c_str());
  base.handle = CreateFileW(base.path, GENERIC_READ, 7, nullptr, OPEN_EXISTING, 0,
                            nullptr);
  DWORD error = CreateTempDirectory(base, L"tmp", &made);
  ReleaseHeldFolder(&base);
  EXPECT_EQ(scratch / L"file\\tmp-1", made.path);
  EXPECT_EQ(INVALID_HANDLE_VALUE, made.handle);
  EXPECT_NE(0u, error);
  EXPECT_TRUE(boxes.boxes.empty());
}

// Reached through a link, the extractor's folder is held and named where it
// lies: everything later goes there, however the link is pointed meanwhile.
// A path that differs only in letter case stays as the user knows it, and so
// does one whose real place cannot be read, as on a volume without a drive
// letter: the run goes on.
TEST_F(TempDirectoryTest, TheExtractorFolderIsHeldWhereItLies) {
  std::wstring real = scratch / L"real";
  CreateDirectoryW(real.c_str(), nullptr);
  ASSERT_TRUE(MakeUnixLink(scratch / L"above", real));
  const std::pair<std::wstring, std::wstring> bases[] = {
      {scratch / L"above", real}, {scratch / L"REAL", scratch / L"REAL"}};
  for (const auto& [base, expected] : bases) {
    HeldFolder folder;
    EXPECT_EQ(0u, HoldExtractorFolder(base.c_str(), &folder));
    EXPECT_EQ(expected, folder.path);
    // Until tmp-n and the log exist, nothing inside holds it in place: the
    // hold itself keeps it from being renamed or replaced.
    ExpectHeld(expected);
    ReleaseHeldFolder(&folder);
  }
  HeldFolder byNtName;
  ASSERT_EQ(0u, HoldFolderByNtName((L"\\??\\" + real).c_str(), &byNtName));
  ExpectHeld(real);
  ReleaseHeldFolder(&byNtName);
  seams::finalPath = [](HANDLE, LPWSTR, DWORD, DWORD) -> DWORD {
    SetLastError(ERROR_PATH_NOT_FOUND);
    return 0;
  };
  HeldFolder folder;
  EXPECT_EQ(static_cast<DWORD>(ERROR_PATH_NOT_FOUND),
            HoldExtractorFolder((scratch / L"above").c_str(), &folder));
  seams::finalPath = GetFinalPathNameByHandleW;
  EXPECT_EQ(scratch / L"above", folder.path);
  // Held all the same: tmp-n goes where the folder was when it was held.
  RemoveUnixLink(scratch / L"above");
  CreateDirectoryW((scratch / L"above").c_str(), nullptr);
  ReleaseHeldFolder(&made);
  EXPECT_EQ(0u, CreateTempDirectory(folder, L"tmp", &made));
  ReleaseHeldFolder(&folder);
  EXPECT_TRUE(PathExists(real + L"\\tmp-1"));
  EXPECT_FALSE(PathExists(scratch / L"above\\tmp-1"));
}

// Descriptors of the folders on the way, as icacls lists them on Windows 10
// and 11 (TrustedInstaller, which owns C:\ and C:\Windows and has full
// control there, has no SDDL alias: SYSTEM stands in, which changes no
// verdict). SystemTemp's DACL is not published: SYSTEM's, Administrators
// reading only, as GetTempPath2's page says only SYSTEM gets in.
const wchar_t kRootSddl[] =
    L"O:SYD:(A;OICI;FA;;;BA)(A;OICI;FA;;;SY)(A;OICI;0x1200a9;;;BU)"
    L"(A;OICIIO;0x1301bf;;;AU)(A;;0x100004;;;AU)";
const wchar_t kWindowsSddl[] =
    L"O:SYD:(A;;0x1301bf;;;SY)(A;OICIIO;GA;;;SY)(A;;0x1301bf;;;BA)(A;OICIIO;GA;;;BA)"
    L"(A;;0x1200a9;;;BU)(A;OICIIO;GXGR;;;BU)(A;OICIIO;GA;;;CO)(A;;0x1200a9;;;AC)";
const wchar_t kSystemTempSddl[] = L"O:SYD:P(A;OICI;FA;;;SY)(A;OICI;0x1200a9;;;BA)";
// C:\ProgramData: Users may add files and folders there, and nothing else.
const wchar_t kDataSddl[] =
    L"O:SYG:SYD:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)(A;OICIIO;GA;;;CO)"
    L"(A;OICI;0x1200a9;;;BU)(A;CI;0x100116;;;BU)";
// The protected folder as this run makes it, and as a user who made the name
// first has it, inheriting from C:\ProgramData.
const wchar_t kOwnSddl[] = L"O:BAD:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)(A;OICI;0x20000;;;OW)";
const wchar_t kUsersSddl[] =
    L"O:S-1-5-21-1-2-3-1001D:AI(A;ID;FA;;;SY)(A;ID;FA;;;BA)(A;ID;FA;;;S-1-5-21-1-2-3-1001)"
    L"(A;ID;0x1200a9;;;BU)(A;CIID;0x100116;;;BU)";

// What holds the protected folder's name beforehand.
enum class Squat { kNone, kFile, kAdministrators, kUser };
const wchar_t* dataSddl = kDataSddl;
Squat squat = Squat::kNone;

bool EndsWith(const std::wstring& text, const std::wstring& end) {
  return text.size() >= end.size() &&
         lstrcmpiW(text.c_str() + text.size() - end.size(), end.c_str()) == 0;
}

PSECURITY_DESCRIPTOR PlaceSecurity(HANDLE entry) {
  wchar_t path[MAX_PATH] = {};
  GetFinalPathNameByHandleW(entry, path, MAX_PATH, 0);
  const wchar_t* sddl = EndsWith(path, L":\\")              ? kRootSddl
                        : EndsWith(path, L"\\windows")      ? kWindowsSddl
                        : EndsWith(path, L"\\SystemTemp")   ? kSystemTempSddl
                        : EndsWith(path, L"\\ProgramData")  ? dataSddl
                        : squat == Squat::kUser             ? kUsersSddl
                                                            : kOwnSddl;
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  ConvertStringSecurityDescriptorToSecurityDescriptorW(sddl, SDDL_REVISION_1,
                                                       &descriptor, nullptr);
  return descriptor;
}

// Between the run and NtCreateFile: what is made in SystemTemp is refused,
// as Windows refuses an administrator there.
seams::CreateFileFn realCreateFile = nullptr;
bool refuseInSystemTemp = false;
// And tmp-n refused in this folder beside the extractor, whose volume keeps
// permissions, as on a full disk (empty: nowhere).
std::wstring refusedBeside;
NTSTATUS NTAPI PlaceCreateFile(PHANDLE handle, ACCESS_MASK access,
                               POBJECT_ATTRIBUTES object, PIO_STATUS_BLOCK status,
                               PLARGE_INTEGER size, ULONG attributes, ULONG sharing,
                               ULONG disposition, ULONG options, PVOID ea, ULONG eaSize) {
  wchar_t root[MAX_PATH] = {};
  if (refuseInSystemTemp && disposition == FILE_CREATE && object->RootDirectory &&
      GetFinalPathNameByHandleW(object->RootDirectory, root, MAX_PATH, 0) &&
      EndsWith(root, L"\\SystemTemp")) {
    return static_cast<NTSTATUS>(0xC0000022);  // STATUS_ACCESS_DENIED
  }
  if (!refusedBeside.empty() && disposition == FILE_CREATE && object->RootDirectory &&
      GetFinalPathNameByHandleW(object->RootDirectory, root, MAX_PATH, 0) &&
      EndsWith(root, refusedBeside)) {
    return static_cast<NTSTATUS>(0xC000007F);  // STATUS_DISK_FULL
  }
  return realCreateFile(handle, access, object, status, size, attributes, sharing,
                        disposition, options, ea, eaSize);
}

// An elevated run whose extractor lies on a stick or a share makes tmp-n in
// SystemTemp where it can, else in the protected folder of C:\ProgramData,
// made afresh or found administrators'. A name taken by anything else is left
// alone for a random one; a C:\ProgramData in which others can move or
// re-permission what is inside is not used. The place is held without delete
// sharing. (Wine has no SystemTemp and no descriptors: the test makes the
// folder, and the seams answer.)
TEST_F(TempDirectoryTest, AVolumeWithoutAclsSendsTmpToTheProtectedFolder) {
  seams::volumeProtects = [](HANDLE) { return !refusedBeside.empty(); };
  seams::entrySecurity = PlaceSecurity;
  realCreateFile = NtdllCall<seams::CreateFileFn>("NtCreateFile");
  seams::createFile = PlaceCreateFile;
  wchar_t data[MAX_PATH], windows[MAX_PATH];
  ASSERT_TRUE(SHGetSpecialFolderPathW(nullptr, data, CSIDL_COMMON_APPDATA, FALSE));
  ASSERT_NE(0u, GetSystemWindowsDirectoryW(windows, MAX_PATH));
  const std::wstring own = std::wstring(data) + L"\\Talvorn Extractor";
  const std::wstring systemTemp = std::wstring(windows) + L"\\SystemTemp";
  // As C:\ProgramData's, but Users may also delete what is in it.
  const wchar_t kUsersMayDelete[] =
      L"O:SYG:SYD:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)(A;CI;0x100156;;;BU)";
  const std::wstring other = L"another name";  // "Talvorn Extractor-<8 hex digits>"
  const struct {
    const char* what;
    bool systemTemp, refused;  // SystemTemp exists; making in it is refused
    const wchar_t* data;
    Squat squat;
    const wchar_t* ownRefusal;  // why the own folder's name is not used
    std::wstring goes;          // where tmp-n goes; empty: nowhere
    bool beside = false;        // a volume with ACLs, where tmp-n cannot be made
  } cases[] = {
      // nothing written by name: where tmp-n cannot be made, the protected folder
      {"tmp-n refused beside", false, false, kDataSddl, Squat::kNone, nullptr, own, true},
      {"SystemTemp", true, false, kDataSddl, Squat::kNone, nullptr, systemTemp},
      {"SystemTemp refused", true, true, kDataSddl, Squat::kNone, nullptr, own},
      {"the administrators' folder", false, false, kDataSddl, Squat::kAdministrators,
       nullptr, own},
      {"a user's folder", false, false, kDataSddl, Squat::kUser, L"others can change it",
       other},
      {"a file", false, false, kDataSddl, Squat::kFile,
       L"it or a folder above it cannot be opened as itself", other},
      {"users may delete in C:\\ProgramData", false, false, kUsersMayDelete, Squat::kNone,
       L"others can move or re-permission what is in a folder above it", L""},
  };
  HeldFolder extractor = HeldAt(scratch.path());
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    RemoveTree(own);
    RemoveTree(systemTemp);  // Wine makes none
    if (c.systemTemp) CreateDirectoryW(systemTemp.c_str(), nullptr);
    std::wstring mine = c.squat == Squat::kFile ? own : own + L"\\mine.txt";
    if (c.squat > Squat::kFile) CreateDirectoryW(own.c_str(), nullptr);
    if (c.squat != Squat::kNone) WriteBytes(mine, "mine");
    refuseInSystemTemp = c.refused;
    refusedBeside = c.beside ? scratch.path() : L"";
    dataSddl = c.data;
    squat = c.squat;
    size_t logged = LogLines().size();
    HeldFolder place;
    bool raised = false;
    try {
      EXPECT_EQ(0u, MakeTempDirectory(extractor, L"tmp", &place, &made));
    } catch (CException*) {
      raised = true;
    }
    EXPECT_EQ(c.goes.empty(), raised);
    std::wstring base = raised ? L"" : place.path;
    EXPECT_EQ(raised ? L"" : base + L"\\tmp-1", IsHeld(made) ? made.path : L"");
    std::vector<std::wstring> expected;
    if (c.refused) {
      expected.push_back(L"Protected folder " + systemTemp +
                         L" is not used: no folder can be made in it");
    }
    if (c.ownRefusal) {
      expected.push_back(L"Protected folder " + own + L" is not used: " + c.ownRefusal);
    }
    expected.push_back(raised ? L"Can't create tmp directory Error=-1"
                              : L"Temporary directory goes to " + base +
                                    L": the extractor's folder " + scratch.path() +
                                    (c.beside ? L" could not hold it"
                                              : L" lies on a volume that is remote or "
                                                L"keeps no permissions"));
    std::vector<std::wstring> log = LogLines();
    EXPECT_EQ(expected, std::vector<std::wstring>(log.begin() + logged, log.end()));
    if (c.goes == other) {
      // A new name; what holds the own folder's name is left as it was.
      EXPECT_TRUE(base.size() == own.size() + 9 && base.rfind(own + L"-", 0) == 0);
      EXPECT_EQ("mine", ReadBytes(mine));
      EXPECT_FALSE(PathExists(own + L"\\tmp-1"));
    } else {
      EXPECT_EQ(c.goes, base);
    }
    ReleaseHeldFolder(&made);
    if (!raised) ExpectHeld(base);
    ReleaseHeldFolder(&place);
    if (c.goes == other) RemoveTree(base);
  }
  seams::createFile = realCreateFile;
  refusedBeside.clear();
  ReleaseHeldFolder(&extractor);
  EXPECT_EQ(std::vector<std::wstring>{L"Can't create tmp directory Error=-1"},
            boxes.Texts());
  RemoveTree(own);
  RemoveTree(systemTemp);
}

TEST_F(TempDirectoryTest, ATempDirectoryNameThatWouldNotFitIsNeverMadeCut) {
  // 250 units of base folder leave no room for "\\tmp-1": cut to 255 units it
  // would make a folder named "tmp-" and unpack into that.
  std::wstring base = scratch.path() + L"\\";
  base += std::wstring(250 - base.size(), L'b');
  CreateDirectoryW(base.c_str(), nullptr);
  EXPECT_THROW(Make(base), CException*);
  EXPECT_EQ(std::vector<std::wstring>{L"Can't create tmp directory Error=-1"},
            boxes.Texts());
  EXPECT_FALSE(PathExists(base + L"\\tmp-"));
  EXPECT_TRUE(RemoveDirectoryW(base.c_str()));  // still empty
}

}  // namespace
