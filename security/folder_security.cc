#include "security/folder_security.h"

#include "security/elevation.h"
#include "support/process_level.h"

namespace {

const DWORD kInherited = OBJECT_INHERIT_ACE | CONTAINER_INHERIT_ACE;

struct Sid {
  BYTE bytes[SECURITY_MAX_SID_SIZE];
};

bool WellKnownSid(WELL_KNOWN_SID_TYPE type, Sid* sid) {
  DWORD size = sizeof sid->bytes;
  return CreateWellKnownSid(type, nullptr, sid->bytes, &size) != FALSE;
}

// Whom the descriptors name.
struct Sids {
  Sid system, administrators, users, ownerRights;
};

bool LoadSids(Sids* sids) {
  return WellKnownSid(WinLocalSystemSid, &sids->system) &&
         WellKnownSid(WinBuiltinAdministratorsSid, &sids->administrators) &&
         WellKnownSid(WinBuiltinUsersSid, &sids->users) &&
         WellKnownSid(WinCreatorOwnerRightsSid, &sids->ownerRights);
}

struct Grant {
  PSID sid;
  DWORD rights;
};

// A protected DACL of the grants, each passed on to what is made inside, and
// the owner when one is given (held by the copy in the record: the descriptor
// keeps a pointer).
bool Build(const Grant* grants, int count, PSID owner, FolderSecurity* security) {
  auto* acl = reinterpret_cast<ACL*>(security->acl);
  SECURITY_DESCRIPTOR* descriptor = &security->descriptor;
  if (!InitializeAcl(acl, sizeof security->acl, ACL_REVISION) ||
      !InitializeSecurityDescriptor(descriptor, SECURITY_DESCRIPTOR_REVISION)) {
    return false;
  }
  for (int i = 0; i < count; ++i) {
    if (!AddAccessAllowedAceEx(acl, ACL_REVISION, kInherited, grants[i].rights,
                               grants[i].sid)) {
      return false;
    }
  }
  if (owner != nullptr &&
      (!CopySid(sizeof security->owner, security->owner, owner) ||
       !SetSecurityDescriptorOwner(descriptor, security->owner, FALSE))) {
    return false;
  }
  return SetSecurityDescriptorDacl(descriptor, TRUE, acl, FALSE) &&
         // Protected: nothing is inherited from the folder around.
         SetSecurityDescriptorControl(descriptor, SE_DACL_PROTECTED,
                                      SE_DACL_PROTECTED);
}

}  // namespace

bool BuildTempSecurity(HANDLE token, FolderSecurity* security) {
  if (TokenIsAdministrator(token)) return BuildAdministratorsSecurity(security);
  TokenUserRecord user;
  Sids sids;
  if (!ReadTokenUser(token, &user) || !LoadSids(&sids)) return false;
  const Grant grants[] = {{sids.system.bytes, kFullControl},
                          {sids.administrators.bytes, kFullControl},
                          {user.user.User.Sid, kFullControl},
                          {sids.ownerRights.bytes, kReadAndExecute}};
  return Build(grants, 4, nullptr, security);
}

bool BuildAdministratorsSecurity(FolderSecurity* security) {
  Sids sids;
  if (!LoadSids(&sids)) return false;
  const Grant grants[] = {{sids.system.bytes, kFullControl},
                          {sids.administrators.bytes, kFullControl},
                          {sids.ownerRights.bytes, READ_CONTROL}};
  return Build(grants, 3, sids.administrators.bytes, security);
}

bool BuildInstallFolderSecurity(FolderSecurity* security) {
  Sids sids;
  if (!LoadSids(&sids)) return false;
  const Grant grants[] = {{sids.system.bytes, kFullControl},
                          {sids.administrators.bytes, kFullControl},
                          {sids.users.bytes, kReadAndExecute},
                          {sids.ownerRights.bytes, kReadAndExecute}};
  return Build(grants, 4, sids.administrators.bytes, security);
}

namespace {

// Owner Administrators and nothing else: a file or folder made with it
// inherits its DACL from its folder.
bool BuildOwnerSecurity(FolderSecurity* security) {
  Sid administrators;
  SECURITY_DESCRIPTOR* descriptor = &security->descriptor;
  return WellKnownSid(WinBuiltinAdministratorsSid, &administrators) &&
         InitializeSecurityDescriptor(descriptor, SECURITY_DESCRIPTOR_REVISION) &&
         CopySid(sizeof security->owner, security->owner, administrators.bytes) &&
         SetSecurityDescriptorOwner(descriptor, security->owner, FALSE);
}

}  // namespace

SECURITY_DESCRIPTOR* RunOwnerSecurity(FolderSecurity* security) {
  return RunIsElevated() && BuildOwnerSecurity(security) ? &security->descriptor
                                                         : nullptr;
}
