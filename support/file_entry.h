// Files and folders as the entries themselves: opened without following a
// link, told apart from links, known by their identity rather than their
// name, and deleted through their own handle. The extractor runs elevated in
// folders that others can change, where a name can be re-pointed at any
// moment; a handle cannot.
#pragma once

#include <windows.h>

// Every kind of sharing, for a look or a deletion that should keep no one
// else out; and the access a deletion through a handle needs.
const DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
const DWORD kDeleteAccess = DELETE | FILE_READ_ATTRIBUTES | FILE_WRITE_ATTRIBUTES;

// Opens the entry at path itself (a link is opened as the link, never what
// it points at), file or folder.
HANDLE OpenEntry(const wchar_t* path, DWORD access, DWORD sharing);

// Whether attributes and a reparse tag make a link: a reparse point whose tag
// redirects a name (junctions, symbolic links and the like) or that cannot be
// told (a tag of 0, as Wine gives). Other reparse points, such as cloud
// placeholders, are ordinary files and folders.
bool IsLinkTag(DWORD attributes, DWORD tag);

// The open entry's attributes and reparse tag; what seams::attributeTag
// starts out as.
bool ReadAttributeTag(HANDLE entry, FILE_ATTRIBUTE_TAG_INFO* info);

// True when the open entry, or the entry its name names, is a link. An entry
// whose tag cannot be read counts as no link; a name that cannot be looked
// at counts as one.
bool HandleIsLink(HANDLE entry);
bool NameIsLink(const wchar_t* path);

// The open entry's information, unless it is a link. Asked of the entry and
// of its name: where the system cannot open a link itself (Wine follows it),
// the name still tells, for a link to a folder.
bool ReadUnlessLink(HANDLE entry, const wchar_t* path,
                    BY_HANDLE_FILE_INFORMATION* info);

// True when the open entry is not the one its name names in its own folder:
// a link of any kind, or a name that the system resolved somewhere else
// (Wine shows a link to a file as a plain file, and opens its target).
// Whatever cannot be resolved counts as elsewhere.
bool LeadsElsewhere(HANDLE entry, const wchar_t* path);

// True when entry is the one named name in folder (both open): on one
// volume, and its name on the volume is the folder's with the name added.
// Asked of the volume's own names (FileNameInfo), which every volume has,
// with or without a drive letter; false when they cannot be read. Wine opens
// a link to a file as its target, which this tells.
bool IsNamedIn(HANDLE folder, const wchar_t* name, HANDLE entry);

// Two opens of one and the same file or folder.
bool SameEntry(const BY_HANDLE_FILE_INFORMATION& a,
               const BY_HANDLE_FILE_INFORMATION& b);

// Two handles open on one and the same file or folder; false where either's
// identity cannot be read.
bool SameOpenEntry(HANDLE a, HANDLE b);

// The path the system resolved the open entry to, every link followed, as a
// plain path ("C:\...", "\\server\share\..."). False when it cannot be read
// or does not fit in cap units.
bool FinalPath(HANDLE entry, wchar_t* out, size_t cap);

// The name to hand the loader or CreateProcessW for the open file: where it
// lies, read from its handle (as "C:\...", or where the volume has no drive
// letter, "\\?\GLOBALROOT\Device\..."), and checked to name that very file.
// False, with out empty, when no such name can be read or fits in cap
// units: the file is then not to be loaded or started.
bool NameForLoader(HANDLE entry, wchar_t* out, size_t cap);

// Replaces path (cap units) with where the open entry really lies, every link
// followed, unless that differs only in letter case. 0, or why it could not
// be read; the path then stays as it is.
DWORD ResolvePath(HANDLE entry, wchar_t* path, size_t cap);

// Marks the open entry (opened with DELETE and FILE_WRITE_ATTRIBUTES) for
// deletion; the name goes when the last handle closes, or at once where the
// system has POSIX semantics, read-only or not. An entry that cannot go (a
// folder that is not empty, a read-only file with other names on a system
// without POSIX semantics) stays, and the result is false.
bool DeleteThroughHandle(HANDLE entry);

// Deletes the entry at path itself: a link as the link, where the system
// opens links themselves, and never what one points at. A name that leads
// elsewhere in any other way is left alone. True when it went.
bool DeleteEntryItself(const wchar_t* path);

// Deletes the entry at path only if it is still the one identity was read
// from, and not a link.
bool DeleteSameEntry(const wchar_t* path,
                     const BY_HANDLE_FILE_INFORMATION& identity);

// True when the open entry's volume is this machine's own, not a share, and
// keeps ACLs (FAT and exFAT installer sticks, and shares without them, drop a
// descriptor without a word): where a descriptor given to what the run makes
// keeps others out; what seams::volumeProtects starts out as.
bool VolumeIsLocalWithAcls(HANDLE entry);

// The owner and DACL of the open entry (READ_CONTROL), as seams::entrySecurity
// starts out: a block to free with LocalFree, or null.
PSECURITY_DESCRIPTOR ReadEntrySecurity(HANDLE entry);
