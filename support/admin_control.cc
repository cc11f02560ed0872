#include "support/admin_control.h"

#include "support/file_entry.h"

namespace {

// What lets a holder change the object, or a folder's contents: writing or
// appending (adding a file or a folder, in a folder), deleting it or a child,
// and rewriting its DACL or owner.
const ACCESS_MASK kChangeRights = FILE_WRITE_DATA | FILE_APPEND_DATA |
                                  FILE_DELETE_CHILD | DELETE | WRITE_DAC |
                                  WRITE_OWNER | GENERIC_WRITE | GENERIC_ALL |
                                  MAXIMUM_ALLOWED;

bool IsWellKnown(PSID sid, WELL_KNOWN_SID_TYPE type) {
  BYTE known[SECURITY_MAX_SID_SIZE];
  DWORD size = sizeof known;
  return CreateWellKnownSid(type, nullptr, known, &size) && EqualSid(sid, known);
}

bool IsTrustedInstaller(PSID sid) {
  // NT SERVICE\TrustedInstaller, which owns what Windows itself installs.
  SID_IDENTIFIER_AUTHORITY nt = SECURITY_NT_AUTHORITY;
  PSID installer = nullptr;
  if (!AllocateAndInitializeSid(&nt, 6, 80, 956008885u, 3418522649u,
                                1831038044u, 1850970518u, 4032244312u, 0, 0,
                                &installer)) {
    return false;
  }
  bool same = EqualSid(sid, installer) != FALSE;
  FreeSid(installer);
  return same;
}

bool IsAdministrative(PSID sid) {
  return IsWellKnown(sid, WinLocalSystemSid) ||
         IsWellKnown(sid, WinBuiltinAdministratorsSid) || IsTrustedInstaller(sid);
}

}  // namespace

bool OnlyAdministratorsCanChange(PSECURITY_DESCRIPTOR descriptor) {
  PSID owner = nullptr;
  BOOL defaulted = FALSE;
  BOOL present = FALSE;
  PACL acl = nullptr;
  if (!IsValidSecurityDescriptor(descriptor) ||
      !GetSecurityDescriptorOwner(descriptor, &owner, &defaulted) ||
      owner == nullptr ||
      !GetSecurityDescriptorDacl(descriptor, &present, &acl, &defaulted) ||
      !present || acl == nullptr) {
    return false;  // no DACL grants everyone everything
  }
  bool ownerTrusted = IsAdministrative(owner);
  bool ownerRightsSet = false;
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
    bool changes = (ace->Mask & kChangeRights) != 0;
    if (IsWellKnown(sid, WinCreatorOwnerRightsSid)) {
      // Replaces the owner's own implicit rights.
      ownerRightsSet = true;
      if (changes && !ownerTrusted) return false;
    } else if (changes && !IsAdministrative(sid)) {
      return false;
    }
  }
  return ownerTrusted || ownerRightsSet;
}

bool OnlyAdministratorsCanChangeEntry(HANDLE entry) {
  const SECURITY_INFORMATION wanted =
      OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION;
  DWORD needed = 0;
  GetKernelObjectSecurity(entry, wanted, nullptr, 0, &needed);
  if (needed == 0) return false;
  HANDLE heap = GetProcessHeap();
  void* descriptor = HeapAlloc(heap, 0, needed);
  if (descriptor == nullptr) return false;
  bool only = GetKernelObjectSecurity(entry, wanted, descriptor, needed, &needed) &&
              OnlyAdministratorsCanChange(descriptor);
  HeapFree(heap, 0, descriptor);
  return only;
}

bool OnlyAdministratorsCanChangePath(const wchar_t* path) {
  HANDLE entry = OpenEntry(path, READ_CONTROL | FILE_READ_ATTRIBUTES, kShareAll);
  if (entry == INVALID_HANDLE_VALUE) return false;
  bool only = !LeadsElsewhere(entry, path) && OnlyAdministratorsCanChangeEntry(entry);
  CloseHandle(entry);
  return only;
}
