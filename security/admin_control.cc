#include "security/admin_control.h"

#include "support/file_entry.h"
#include "support/folder_listing.h"
#include "support/seams.h"

namespace {

// What lets a holder change the object, or a folder's contents: writing or
// appending (adding a file or a folder, in a folder), its attributes and
// extended attributes, deleting it or a child, and rewriting its DACL or
// owner.
const ACCESS_MASK kChangeRights =
    FILE_WRITE_DATA | FILE_APPEND_DATA | FILE_WRITE_EA | FILE_WRITE_ATTRIBUTES |
    FILE_DELETE_CHILD | DELETE | WRITE_DAC | WRITE_OWNER | GENERIC_WRITE |
    GENERIC_ALL | MAXIMUM_ALLOWED;
// What lets a holder take away or replace what is in a folder, or the folder.
const ACCESS_MASK kMoveRights = FILE_DELETE_CHILD | DELETE | WRITE_DAC |
                                WRITE_OWNER | GENERIC_ALL | MAXIMUM_ALLOWED;

// NT SERVICE\TrustedInstaller, which owns what Windows itself installs (C:\,
// C:\Windows, Program Files) and holds full control of folders made under
// Program Files. Windows derives a service's SID from its name ("sc showsid
// TrustedInstaller" prints it): S-1-5-80 followed by the SHA-1 of the name in
// capitals, as UTF-16LE, read as five little-endian numbers. No call gives
// it, and hashing here would cost the stub its budget: these are the five
// numbers, which the tests derive from the name.
bool IsTrustedInstaller(PSID sid) {
  SID_IDENTIFIER_AUTHORITY nt = SECURITY_NT_AUTHORITY;
  PSID installer = nullptr;
  if (!AllocateAndInitializeSid(&nt, 6, SECURITY_SERVICE_ID_BASE_RID, 956008885u,
                                3418522649u, 1831038044u, 1853292631u,
                                2271478464u, 0, 0, &installer)) {
    return false;
  }
  bool same = EqualSid(sid, installer) != FALSE;
  FreeSid(installer);
  return same;
}

bool IsAdministrative(PSID sid) {
  return IsWellKnownSid(sid, WinLocalSystemSid) ||
         IsWellKnownSid(sid, WinBuiltinAdministratorsSid) || IsTrustedInstaller(sid);
}

bool OnlyAdministratorsHold(PSECURITY_DESCRIPTOR descriptor, ACCESS_MASK rights) {
  PSID owner = nullptr;
  BOOL defaulted = FALSE;
  BOOL present = FALSE;
  PACL acl = nullptr;
  // An owner may always rewrite the DACL: whoever it is decides, whatever
  // the ACEs say.
  if (descriptor == nullptr || !IsValidSecurityDescriptor(descriptor) ||
      !GetSecurityDescriptorOwner(descriptor, &owner, &defaulted) ||
      owner == nullptr || !IsAdministrative(owner) ||
      !GetSecurityDescriptorDacl(descriptor, &present, &acl, &defaulted) ||
      !present || acl == nullptr) {
    return false;  // no DACL grants everyone everything
  }
  for (DWORD i = 0; i < acl->AceCount; ++i) {
    ACE_HEADER* header = nullptr;
    if (!GetAce(acl, i, reinterpret_cast<void**>(&header))) return false;
    if ((header->AceFlags & INHERIT_ONLY_ACE) != 0) continue;
    BYTE type = header->AceType;
    if (type == ACCESS_DENIED_ACE_TYPE || type == ACCESS_DENIED_OBJECT_ACE_TYPE ||
        type == ACCESS_DENIED_CALLBACK_ACE_TYPE ||
        type == ACCESS_DENIED_CALLBACK_OBJECT_ACE_TYPE) {
      continue;  // a denial never grants; relying on one is not needed
    }
    // Both kinds keep mask and SID where the plain one does; any other kind
    // that might grant something cannot be read here.
    if (type != ACCESS_ALLOWED_ACE_TYPE &&
        type != ACCESS_ALLOWED_CALLBACK_ACE_TYPE) {
      return false;
    }
    auto* ace = reinterpret_cast<ACCESS_ALLOWED_ACE*>(header);
    PSID sid = &ace->SidStart;
    // OWNER RIGHTS stands for the owner, an administrative one by now.
    if ((ace->Mask & rights) != 0 && !IsAdministrative(sid) &&
        !IsWellKnownSid(sid, WinCreatorOwnerRightsSid)) {
      return false;
    }
  }
  return true;
}

bool JudgeEntry(HANDLE entry, ACCESS_MASK rights) {
  PSECURITY_DESCRIPTOR descriptor = seams::entrySecurity(entry);
  bool only = OnlyAdministratorsHold(descriptor, rights);
  if (descriptor != nullptr) LocalFree(descriptor);
  return only;
}

}  // namespace

bool OnlyAdministratorsCanChange(PSECURITY_DESCRIPTOR descriptor) {
  return OnlyAdministratorsHold(descriptor, kChangeRights);
}

bool OnlyAdministratorsCanMoveWithin(PSECURITY_DESCRIPTOR descriptor) {
  return OnlyAdministratorsHold(descriptor, kMoveRights);
}

bool OnlyAdministratorsCanChangeEntry(HANDLE entry) {
  return JudgeEntry(entry, kChangeRights);
}

bool OnlyAdministratorsCanMoveWithinEntry(HANDLE entry) {
  return JudgeEntry(entry, kMoveRights);
}

bool EveryEntryOnlyAdministrators(const HeldFolder& folder,
                                  const BY_HANDLE_FILE_INFORMATION* skipped) {
  // Listed through the held folder's handle, never by its name.
  FolderListing listing = {};
  ListedEntry found;
  bool listed = false;
  while (NextInFolder(folder, &listing, &found)) {
    listed = true;
    HANDLE entry = INVALID_HANDLE_VALUE;
    BY_HANDLE_FILE_INFORMATION info;
    bool closed = !IsLinkTag(found.attributes, found.tag) &&
                  OpenInFolder(&folder, found.name, READ_CONTROL | FILE_READ_ATTRIBUTES,
                               kShareAll, FILE_OPEN, 0, nullptr, &entry) == 0 &&
                  !HandleIsLink(entry) && GetFileInformationByHandle(entry, &info) &&
                  ((skipped != nullptr && SameEntry(info, *skipped)) ||
                   OnlyAdministratorsCanChangeEntry(entry));
    if (entry != INVALID_HANDLE_VALUE) CloseHandle(entry);
    if (!closed) return false;
  }
  // A folder that cannot be listed at all is no folder seen to be closed.
  return listed || GetLastError() == ERROR_NO_MORE_FILES;
}
