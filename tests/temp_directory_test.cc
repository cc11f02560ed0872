// tmp-n: made beside the extractor under the lowest free number, with its
// protected descriptor, held, and handed back where it lies.
#include "payload/temp_directory.h"

#include "payload/extract.h"
#include "support/errors.h"
#include "support/folder_security.h"
#include "tests/payload_test_support.h"

namespace {

class TempDirectoryTest : public PayloadTest {};

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
    wchar_t path[kPathSize];
    lstrcpyW(path, base.c_str());
    CreateTempDirectory(path, L"tmp");
    EXPECT_EQ(base + L"\\tmp-2", path);
    EXPECT_EQ("mine", ReadBytes(base + (file ? L"\\tmp-1" : L"\\tmp-1\\mine.txt")));
    // Held: it can be neither moved nor opened for deletion, while files are
    // made and renamed inside it as usual.
    std::wstring made = path;
    EXPECT_TRUE(TempDirectoryHeld());
    EXPECT_FALSE(MoveFileW(made.c_str(), (base + L"\\away").c_str()));
    HANDLE forDelete = CreateFileW(made.c_str(), DELETE, 7, nullptr, OPEN_EXISTING,
                                   FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    EXPECT_EQ(INVALID_HANDLE_VALUE, forDelete);
    if (forDelete != INVALID_HANDLE_VALUE) CloseHandle(forDelete);
    WriteBytes(made + L"\\a.txt", "a");
    EXPECT_TRUE(MoveFileW((made + L"\\a.txt").c_str(), (made + L"\\b.txt").c_str()));
    ReleaseTempDirectory();
    EXPECT_FALSE(TempDirectoryHeld());
    EXPECT_TRUE(MoveFileW(made.c_str(), (base + L"\\away").c_str()));
  }

  std::wstring base = scratch / L"folder";
  for (int n = 1; n <= kMaxTempDirectoryNumber; ++n) {
    CreateDirectoryW((base + L"\\tmp-" + std::to_wstring(n)).c_str(), nullptr);
  }
  wchar_t path[kPathSize];
  lstrcpyW(path, base.c_str());
  bool raised = false;
  try {
    CreateTempDirectory(path, L"tmp");
  } catch (CException* e) {
    raised = e->code == -1;
  }
  EXPECT_TRUE(raised);
  EXPECT_FALSE(TempDirectoryHeld());
  EXPECT_FALSE(PathExists(base + L"\\tmp-50"));
  ASSERT_EQ(1u, boxes.boxes.size());
  EXPECT_EQ(L"Can't create tmp directory Error=-1", boxes.boxes[0].text);
}

// tmp-n's descriptor, read back for this process's token (Wine's holds
// Administrators enabled) and for one that holds the group for deny only, as
// a standard user's does. Whoever comes to own a file inside keeps only
// read and execute, whatever the owner policy.
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
  SID_AND_ATTRIBUTES denyOnly = {admins, 0};
  HANDLE standard = nullptr;
  ASSERT_TRUE(CreateRestrictedToken(process, 0, 1, &denyOnly, 0, nullptr, 0,
                                    nullptr, &standard));
  union {
    TOKEN_USER user;
    BYTE bytes[sizeof(TOKEN_USER) + SECURITY_MAX_SID_SIZE];
  } user;
  ASSERT_TRUE(GetTokenInformation(process, TokenUser, &user, sizeof user, &size));

  const struct {
    HANDLE token;
    bool administrator;
    DWORD userRights;
  } tokens[] = {{process, true, FILE_GENERIC_READ | FILE_GENERIC_EXECUTE},
                {standard, false, FILE_ALL_ACCESS}};
  for (const auto& t : tokens) {
    SCOPED_TRACE(t.administrator ? "administrator" : "standard user");
    EXPECT_EQ(t.administrator, TokenIsAdministrator(t.token));
    FolderSecurity security;
    ASSERT_TRUE(BuildFolderSecurity(t.token, &security));
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
    ASSERT_EQ(4u, acl->AceCount);
    const std::pair<PSID, DWORD> expected[] = {
        {system, FILE_ALL_ACCESS}, {admins, FILE_ALL_ACCESS},
        {user.user.User.Sid, t.userRights},
        {ownerRights, FILE_GENERIC_READ | FILE_GENERIC_EXECUTE}};
    for (DWORD i = 0; i < 4; ++i) {
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

// Any other failure ends the attempts at once and hands the candidate back.
TEST_F(TempDirectoryTest, AFolderThatCannotBeMadeIsHandedBackUnheld) {
  std::wstring missing = scratch / L"missing";
  wchar_t path[kPathSize];
  lstrcpyW(path, missing.c_str());
  CreateTempDirectory(path, L"tmp");
  EXPECT_EQ(missing + L"\\tmp-1", path);
  EXPECT_FALSE(TempDirectoryHeld());
  EXPECT_TRUE(boxes.boxes.empty());
}

// Reached through a link, tmp-n is handed back where it lies: everything
// later goes there, however the link is pointed meanwhile. A path that differs
// only in letter case stays as the user knows it.
TEST_F(TempDirectoryTest, ATempDirectoryIsHandedBackWhereItLies) {
  std::wstring real = scratch / L"real";
  CreateDirectoryW(real.c_str(), nullptr);
  ASSERT_TRUE(MakeUnixLink(scratch / L"above", real));
  const std::pair<std::wstring, std::wstring> bases[] = {
      {scratch / L"above", real + L"\\tmp-1"},
      {scratch / L"REAL", scratch / L"REAL\\tmp-2"}};
  for (const auto& [base, expected] : bases) {
    wchar_t path[kPathSize];
    lstrcpyW(path, base.c_str());
    CreateTempDirectory(path, L"tmp");
    EXPECT_EQ(expected, path);
    EXPECT_EQ(nullptr, TempDirectoryWeakness());  // Wine's drives keep ACLs
  }
  ReleaseTempDirectory();
  RemoveUnixLink(scratch / L"above");
}

TEST_F(TempDirectoryTest, ATempDirectoryNameThatWouldNotFitIsNeverMadeCut) {
  // 250 units of base folder leave no room for "\\tmp-1": cut to 255 units it
  // would make a folder named "tmp-" and unpack into that.
  std::wstring base = scratch.path() + L"\\";
  base += std::wstring(250 - base.size(), L'b');
  CreateDirectoryW(base.c_str(), nullptr);
  wchar_t path[kPathSize];
  lstrcpyW(path, base.c_str());
  EXPECT_THROW(CreateTempDirectory(path, L"tmp"), CException*);
  EXPECT_EQ(std::vector<std::wstring>{L"Can't create tmp directory Error=-1"},
            boxes.Texts());
  EXPECT_FALSE(PathExists(base + L"\\tmp-"));
  EXPECT_TRUE(RemoveDirectoryW(base.c_str()));  // still empty
}

}  // namespace
