// How a run tells the single-run object of another run from a squatter's, for
// the two kinds of token: this process's (Wine's holds Administrators
// enabled, as an elevated run's does) and one that holds the group for deny
// only (a run that was not elevated). The elevated case is also run end to
// end; the other can only be made here.
#include <string>

#include "security/object_security.h"
#include "tests/test_support.h"

namespace {

TEST(SingleRunTest, AnObjectCountsAsARunsByItsOwner) {
  HANDLE elevated = nullptr;
  ASSERT_TRUE(OpenProcessToken(GetCurrentProcess(),
                               TOKEN_QUERY | TOKEN_DUPLICATE | TOKEN_ASSIGN_PRIMARY,
                               &elevated));
  HANDLE notElevated = StandardUserToken(elevated);
  ASSERT_NE(nullptr, notElevated);
  ObjectSecurity byElevated, byNotElevated;
  ASSERT_TRUE(BuildObjectSecurity(elevated, MUTEX_ALL_ACCESS, &byElevated));
  ASSERT_TRUE(BuildObjectSecurity(notElevated, MUTEX_ALL_ACCESS, &byNotElevated));

  // Wine's default owner is a group (Domain Users): no run's owner.
  const struct {
    const char* object;
    SECURITY_DESCRIPTOR* descriptor;
    DWORD aces;
    bool forElevated, forNotElevated;
  } objects[] = {{"an elevated run's", &byElevated.descriptor, 2, true, true},
                 {"a run's not elevated", &byNotElevated.descriptor, 3, false, true},
                 {"the default owner's", nullptr, 0, false, false}};
  int count = 0;
  for (const auto& o : objects) {
    SCOPED_TRACE(o.object);
    if (o.descriptor != nullptr) {
      BOOL present = FALSE, defaulted = FALSE;
      PACL acl = nullptr;
      SECURITY_DESCRIPTOR_CONTROL control = 0;
      DWORD revision = 0;
      ASSERT_TRUE(GetSecurityDescriptorDacl(o.descriptor, &present, &acl, &defaulted));
      ASSERT_TRUE(present && acl != nullptr);
      EXPECT_EQ(o.aces, acl->AceCount);
      GetSecurityDescriptorControl(o.descriptor, &control, &revision);
      EXPECT_NE(0, control & SE_DACL_PROTECTED);
    }
    SECURITY_ATTRIBUTES attributes = {sizeof attributes, o.descriptor, FALSE};
    std::wstring name = L"TalvornSingleRunTest-" +
                        std::to_wstring(GetCurrentProcessId()) + L"-" +
                        std::to_wstring(++count);
    HANDLE object = CreateMutexW(&attributes, FALSE, name.c_str());
    ASSERT_NE(nullptr, object);
    EXPECT_EQ(o.forElevated, OwnedLikeARun(object, elevated));
    EXPECT_EQ(o.forNotElevated, OwnedLikeARun(object, notElevated));
    CloseHandle(object);
  }
  CloseHandle(notElevated);
  CloseHandle(elevated);
}

}  // namespace
