// tmp-n: made under the lowest free number, relative to the held extractor
// folder or, where the extractor's volume cannot keep others out, the
// protected folder, with its protected descriptor, and held.
#include "payload/temp_directory.h"

#include <sddl.h>
#include <shlobj.h>

#include "payload/extract.h"
#include "payload/own_folder.h"
#include "security/folder_security.h"
#include "support/errors.h"
#include "support/file_entry.h"
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
    // Held: it can be neither moved nor opened for deletion, while files are
    // made and renamed inside it as usual.
    std::wstring made = path;
    EXPECT_NE(INVALID_HANDLE_VALUE, this->made.handle);
    EXPECT_FALSE(MoveFileW(made.c_str(), (base + L"\\away").c_str()));
    HANDLE forDelete = CreateFileW(made.c_str(), DELETE, 7, nullptr, OPEN_EXISTING,
                                   FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    EXPECT_EQ(INVALID_HANDLE_VALUE, forDelete);
    if (forDelete != INVALID_HANDLE_VALUE) CloseHandle(forDelete);
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
    ReleaseHeldFolder(&folder);
  }
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

// An elevated run whose extractor lies on a stick or a share makes tmp-n in
// the protected folder, made afresh with the administrators' descriptor; one
// of that name that others could change is not used, and the run says so.
// (Wine shows every volume keeping ACLs and every folder as the Unix user's:
// both answers come from the seams.)
TEST_F(TempDirectoryTest, AVolumeWithoutAclsSendsTmpToTheProtectedFolder) {
  static bool administrators = true;
  seams::volumeProtects = [](HANDLE) { return false; };
  // The folders above as Windows has them; the protected folder itself
  // either the administrators' or open to BUILTIN\Users.
  seams::entrySecurity = [](HANDLE entry) -> PSECURITY_DESCRIPTOR {
    wchar_t path[MAX_PATH] = {};
    GetFinalPathNameByHandleW(entry, path, MAX_PATH, 0);
    bool place = std::wstring(path).find(L"Talvorn Extractor") != std::wstring::npos;
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    ConvertStringSecurityDescriptorToSecurityDescriptorW(
        place && !administrators ? L"O:BAD:(A;;FA;;;SY)(A;;FA;;;BA)(A;;FA;;;BU)"
                                 : L"O:SYD:(A;;FA;;;SY)(A;;FA;;;BA)(A;;0x1200a9;;;BU)",
        SDDL_REVISION_1, &descriptor, nullptr);
    return descriptor;
  };
  wchar_t data[MAX_PATH];
  ASSERT_TRUE(SHGetSpecialFolderPathW(nullptr, data, CSIDL_COMMON_APPDATA, FALSE));
  std::wstring place = std::wstring(data) + L"\\Talvorn Extractor";
  RemoveTree(place);
  HeldFolder extractor = HeldAt(scratch.path());
  HeldFolder protectedPlace;
  for (bool ownedByAdministrators : {true, false}) {
    SCOPED_TRACE(ownedByAdministrators ? "administrators'" : "others'");
    administrators = ownedByAdministrators;
    bool raised = false;
    try {
      const HeldFolder& base = ChooseTempBase(extractor, &protectedPlace);
      EXPECT_EQ(place, base.path);
      CreateTempDirectory(base, L"tmp", &made);
    } catch (CException*) {
      raised = true;
    }
    EXPECT_EQ(!ownedByAdministrators, raised);
    ReleaseHeldFolder(&protectedPlace);
  }
  seams::volumeProtects = VolumeIsLocalWithAcls;
  seams::entrySecurity = ReadEntrySecurity;
  ReleaseHeldFolder(&extractor);
  EXPECT_EQ(place + L"\\tmp-1", made.path);
  std::vector<std::wstring> log = LogLines();
  ASSERT_GE(log.size(), 3u);
  EXPECT_EQ((std::vector<std::wstring>{
                L"Temporary directory goes to " + place + L": the extractor's folder " +
                    scratch.path() +
                    L" lies on a volume that is remote or keeps no permissions",
                L"Protected folder " + place + L" is not used: others can change it",
                L"Can't create tmp directory Error=-1"}),
            std::vector<std::wstring>(log.end() - 3, log.end()));
  EXPECT_EQ(std::vector<std::wstring>{L"Can't create tmp directory Error=-1"},
            boxes.Texts());
  ReleaseHeldFolder(&made);
  RemoveTree(place);
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

// A folder whose path does not fit the held path is neither made nor held,
// and says so: it is not taken for a link.
TEST_F(TempDirectoryTest, AFolderPathThatWouldNotFitIsNeitherMadeNorHeld) {
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

}  // namespace
