// Folders held open for the run, and entries made and opened relative to
// them. The extractor runs elevated among folders that others can change,
// where a name can be re-pointed at any moment; a handle cannot. A folder
// made is made and opened in one call, so that no other program can take its
// name between the two, with the descriptor it is to have from its first
// moment.
#pragma once

#include <windows.h>

#include <cstdint>

const size_t kHeldPathSize = 256;

// Zero-filled (as a process-wide one starts), it holds nothing.
struct HeldFolder {
  HANDLE handle;                // INVALID_HANDLE_VALUE (or null): none held
  wchar_t path[kHeldPathSize];  // as messages name it, no final backslash
};

bool IsHeld(const HeldFolder& folder);
void InitHeldFolder(HeldFolder* folder);
void ReleaseHeldFolder(HeldFolder* folder);

// Opens or makes name, a path relative to folder (or, with a null folder, a
// full path), never following a link at its last component: NtCreateFile
// with FILE_OPEN_REPARSE_POINT and synchronous I/O. disposition is
// NtCreateFile's (FILE_OPEN, FILE_CREATE, ...), options FILE_DIRECTORY_FILE,
// FILE_NON_DIRECTORY_FILE or 0. 0, with the entry in *out, or the system's
// error code: ERROR_ALREADY_EXISTS for a name taken, with FILE_CREATE.
// Among the options: an asynchronous handle instead of a synchronous one.
const ULONG kAsynchronousIo = 0x80000000;
DWORD OpenInFolder(const HeldFolder* folder, const wchar_t* name,
                   ACCESS_MASK access, ULONG sharing, ULONG disposition,
                   ULONG options, SECURITY_DESCRIPTOR* descriptor, HANDLE* out);

// The same, but an entry that another program holds in a way that excludes
// this open (a sharing or lock violation: antivirus and backup agents hold
// new files for moments) is tried again for about two seconds.
DWORD OpenInFolderRetrying(const HeldFolder* folder, const wchar_t* name,
                           ACCESS_MASK access, ULONG sharing, ULONG disposition,
                           ULONG options, HANDLE* out);

enum class FolderMade { kMade, kExists, kFailed };

// Makes the folder name in parent (or at the full path name, with a null
// parent) and holds it in *made, opened with access and sharing, its path
// the parent's and the name. kExists when the name is taken already (by
// anything); kFailed otherwise, with the system's error code in *error
// (ERROR_FILENAME_EXCED_RANGE, with nothing made and an empty path, when the
// path does not fit).
FolderMade MakeHeldFolder(const HeldFolder* parent, const wchar_t* name,
                          SECURITY_DESCRIPTOR* descriptor, ACCESS_MASK access,
                          ULONG sharing, HeldFolder* made, DWORD* error);

// Holds the existing folder name in parent (or at a full path) as itself,
// never through a link: 0, or the system's error code (for a link,
// ERROR_REPARSE_POINT_ENCOUNTERED, 4395).
DWORD HoldExistingFolder(const HeldFolder* parent, const wchar_t* name,
                         ACCESS_MASK access, ULONG sharing, HeldFolder* held);

// The same, but a folder that another program holds in a way that excludes
// this open (for a moment, as a listing without sharing does) is tried again
// for about two seconds, as OpenInFolderRetrying does.
DWORD HoldExistingFolderRetrying(const HeldFolder* parent, const wchar_t* name,
                                 ACCESS_MASK access, ULONG sharing,
                                 HeldFolder* held);

// Deletes name in folder through a handle on the entry itself, only if it
// is that entry (a link goes as the link) and, with an identity, only if it is
// still that file or folder. 0 when it went; otherwise the system's error
// code (ERROR_FILE_NOT_FOUND for no such name), ERROR_REPARSE_POINT_ENCOUNTERED
// for a name that leads elsewhere, or ERROR_FILE_INVALID for another file.
DWORD DeleteInFolder(const HeldFolder& folder, const wchar_t* name,
                     const BY_HANDLE_FILE_INFORMATION* identity);

// Holds the folder at path as the name leads to it now, links followed:
// the extractor's own folder, which the user chose. Held without delete
// sharing, so that nobody renames it or puts another in its place while the
// run needs it. 0, or the system's error code.
DWORD HoldFolderAsNamed(const wchar_t* path, HeldFolder* held);

// True when name in folder opens for reading with no sharing, as
// FileExists: a file held open by another process, and a folder, count as
// absent.
bool FileExistsIn(const HeldFolder& folder, const wchar_t* name);

// ReadFileContents for name in the held folder, opened relative to it.
uint8_t* ReadFileContentsIn(const HeldFolder& folder, const wchar_t* name);

// Holds the folder by the system's own name for it (as "\Device\...",
// or "\??\C:\..."), links followed, without delete sharing: 0, or the
// system's error code.
DWORD HoldFolderByNtName(const wchar_t* name, HeldFolder* held);

// Not in this SDK's headers: "The request would have encountered a reparse
// point", what Windows itself answers for a link that is not to be followed.
const DWORD kReparsePointEncountered = 4395;
