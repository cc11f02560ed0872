#include "security/object_security.h"

#include "security/elevation.h"
#include "security/folder_security.h"
#include "support/process_level.h"

bool BuildObjectSecurity(HANDLE token, DWORD rights, ObjectSecurity* security) {
  TokenUserRecord user;
  BYTE system[SECURITY_MAX_SID_SIZE];
  BYTE administrators[SECURITY_MAX_SID_SIZE];
  DWORD systemSize = sizeof system;
  DWORD administratorsSize = sizeof administrators;
  if (!ReadTokenUser(token, &user) ||
      !CreateWellKnownSid(WinLocalSystemSid, nullptr, system, &systemSize) ||
      !CreateWellKnownSid(WinBuiltinAdministratorsSid, nullptr, administrators,
                          &administratorsSize)) {
    return false;
  }
  bool administrator = TokenIsAdministrator(token);
  PSID granted[] = {system, administrators, user.user.User.Sid};
  auto* acl = reinterpret_cast<ACL*>(security->acl);
  if (!InitializeAcl(acl, sizeof security->acl, ACL_REVISION)) return false;
  for (int i = 0; i < (administrator ? 2 : 3); ++i) {
    if (!AddAccessAllowedAceEx(acl, ACL_REVISION, 0, rights, granted[i])) return false;
  }
  // Held by the copy in the record: the descriptor keeps a pointer.
  PSID owner = administrator ? administrators : user.user.User.Sid;
  SECURITY_DESCRIPTOR* descriptor = &security->descriptor;
  return CopySid(sizeof security->owner, security->owner, owner) &&
         InitializeSecurityDescriptor(descriptor,
                                      SECURITY_DESCRIPTOR_REVISION) &&
         SetSecurityDescriptorOwner(descriptor, security->owner, FALSE) &&
         SetSecurityDescriptorDacl(descriptor, TRUE, acl, FALSE) &&
         SetSecurityDescriptorControl(descriptor, SE_DACL_PROTECTED,
                                      SE_DACL_PROTECTED);
}

bool OwnedLikeARun(HANDLE object, HANDLE token) {
  // Owner only: a self-relative header and one SID.
  DWORD buffer[(sizeof(SECURITY_DESCRIPTOR) + SECURITY_MAX_SID_SIZE) / 4 + 1];
  DWORD size = 0;
  PSID owner = nullptr;
  BOOL defaulted = FALSE;
  if (!GetKernelObjectSecurity(object, OWNER_SECURITY_INFORMATION, buffer,
                               sizeof buffer, &size) ||
      !GetSecurityDescriptorOwner(buffer, &owner, &defaulted) ||
      owner == nullptr) {
    return false;
  }
  if (IsWellKnownSid(owner, WinBuiltinAdministratorsSid) ||
      IsWellKnownSid(owner, WinLocalSystemSid)) {
    return true;
  }
  TokenUserRecord user;
  return !TokenIsAdministrator(token) && ReadTokenUser(token, &user) &&
         EqualSid(owner, user.user.User.Sid);
}
