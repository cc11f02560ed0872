// Removes a directory tree depth first, silently: no box, no log line, no
// retry. Whatever cannot be deleted at that moment stays. Read-only files and
// folders are deleted too; links are removed, never followed, and each folder
// is held while it is emptied, so it cannot be swapped for a link meanwhile.
// Only reparse points that redirect a name count as links: a cloud
// placeholder (OneDrive's Desktop and Documents) is walked and removed like
// any other folder. Every entry is deleted through a handle on itself,
// opened relative to its held folder.
#pragma once

#include <windows.h>

#include "support/held_folder.h"

const size_t kTreePathSize = 256;

// A directory enumerator; one per directory being walked.
struct FileSearch {
  int open;
  WIN32_FIND_DATAW findData;
  HANDLE handle;
  const wchar_t* pattern;
};

void FileSearchInit(FileSearch* search);

// index 1 starts a new search with pattern; any other index continues it.
// Returns 1 with the outputs set, or 0 when there is no further entry.
// isEntry is 0 for "." and ".." and for names that do not fit name's
// kTreePathSize units; these are passed over.
int FileSearchNext(FileSearch* search, const wchar_t* pattern, int index,
                   wchar_t* name, int* isEntry, int* isDirectory);

void FileSearchClose(FileSearch* search);

// Deletes a read-only file or folder through one handle on the entry itself:
// with the system's POSIX-semantics disposition, which ignores the mark,
// where it has one; otherwise by clearing the mark on that handle (put back
// if the entry still cannot go). A link, or a file with other hard links
// (whose mark belongs to them too), is left alone. True when it went.
bool DeleteReadOnlyEntry(const wchar_t* path);

// Nonzero when the directory itself was removed. An empty path is refused: it
// would name the root of the current drive.
int DeleteDirectoryTree(const wchar_t* path);

// The same for a folder the caller holds already (opened with
// FILE_LIST_DIRECTORY and FILE_READ_ATTRIBUTES on the entry itself): it stays
// held while it is emptied, and is let go of here. The folder itself is
// removed only if the name still leads to it then; with the held folder it
// was made in, through that folder by its own name there (the last part of
// its path), never by its path, and only if it is still that folder.
int DeleteHeldDirectoryTree(HeldFolder* held, const HeldFolder* parent = nullptr);

// Empties a folder the caller holds, through handles relative to it (also
// for one whose entries others could change until now): each entry is
// deleted as itself (a link as the link, never followed; a name the system
// resolves elsewhere stays), each folder inside held, no link, while it is
// emptied, then deleted only if it is still that folder. Where the system has
// no POSIX-semantics deletion, a read-only file with other names stays.
// stayed, unless null, is told of each entry that stayed, by its folder's
// path, its name and the system's error.
void EmptyHeldFolder(const HeldFolder& folder,
                     void (*stayed)(const wchar_t* folderPath,
                                    const wchar_t* name, DWORD error));
