#include "support/folder_security.h"

namespace {

const DWORD kInherited = OBJECT_INHERIT_ACE | CONTAINER_INHERIT_ACE;

bool WellKnownSid(WELL_KNOWN_SID_TYPE type, BYTE (&sid)[SECURITY_MAX_SID_SIZE]) {
  DWORD size = sizeof sid;
  return CreateWellKnownSid(type, nullptr, sid, &size) != FALSE;
}

}  // namespace

bool TokenIsAdministrator(HANDLE token) {
  BYTE administrators[SECURITY_MAX_SID_SIZE];
  if (!WellKnownSid(WinBuiltinAdministratorsSid, administrators)) return false;
  DWORD size = 0;
  GetTokenInformation(token, TokenGroups, nullptr, 0, &size);
  if (size == 0) return false;
  HANDLE heap = GetProcessHeap();
  auto* groups = static_cast<TOKEN_GROUPS*>(HeapAlloc(heap, 0, size));
  if (groups == nullptr) return false;
  bool enabled = false;
  if (GetTokenInformation(token, TokenGroups, groups, size, &size)) {
    for (DWORD i = 0; i < groups->GroupCount; ++i) {
      const SID_AND_ATTRIBUTES& group = groups->Groups[i];
      if (EqualSid(group.Sid, administrators) &&
          (group.Attributes & SE_GROUP_ENABLED) != 0 &&
          (group.Attributes & SE_GROUP_USE_FOR_DENY_ONLY) == 0) {
        enabled = true;
      }
    }
  }
  HeapFree(heap, 0, groups);
  return enabled;
}

bool BuildFolderSecurity(HANDLE token, FolderSecurity* security) {
  // The token's user; TOKEN_USER holds a SID of at most the largest size.
  union {
    TOKEN_USER user;
    BYTE bytes[sizeof(TOKEN_USER) + SECURITY_MAX_SID_SIZE];
  } user;
  DWORD size = sizeof user;
  BYTE system[SECURITY_MAX_SID_SIZE];
  BYTE administrators[SECURITY_MAX_SID_SIZE];
  if (!GetTokenInformation(token, TokenUser, &user, size, &size) ||
      !WellKnownSid(WinLocalSystemSid, system) ||
      !WellKnownSid(WinBuiltinAdministratorsSid, administrators)) {
    return false;
  }
  BYTE ownerRights[SECURITY_MAX_SID_SIZE];
  if (!WellKnownSid(WinCreatorOwnerRightsSid, ownerRights)) return false;
  bool administrator = TokenIsAdministrator(token);
  DWORD userRights = administrator ? kReadAndExecute : kFullControl;
  auto* acl = reinterpret_cast<ACL*>(security->acl);
  SECURITY_DESCRIPTOR* descriptor = &security->descriptor;
  bool built =
      InitializeAcl(acl, sizeof security->acl, ACL_REVISION) &&
      AddAccessAllowedAceEx(acl, ACL_REVISION, kInherited, kFullControl,
                            system) &&
      AddAccessAllowedAceEx(acl, ACL_REVISION, kInherited, kFullControl,
                            administrators) &&
      AddAccessAllowedAceEx(acl, ACL_REVISION, kInherited, userRights,
                            user.user.User.Sid) &&
      AddAccessAllowedAceEx(acl, ACL_REVISION, kInherited, kReadAndExecute,
                            ownerRights) &&
      InitializeSecurityDescriptor(descriptor, SECURITY_DESCRIPTOR_REVISION);
  if (built && administrator) {
    // Held by the copy in the record: the descriptor keeps a pointer.
    CopySid(sizeof security->owner, security->owner, administrators);
    built = SetSecurityDescriptorOwner(descriptor, security->owner, FALSE);
  }
  return built &&
         SetSecurityDescriptorDacl(descriptor, TRUE, acl, FALSE) &&
         // Protected: nothing is inherited from the folder around tmp-n.
         SetSecurityDescriptorControl(descriptor, SE_DACL_PROTECTED,
                                      SE_DACL_PROTECTED);
}
