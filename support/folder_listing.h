// A held folder's entries, listed through its handle: a folder whose name
// someone re-points meanwhile is still the one listed, and no name is built
// to list it.
#pragma once

#include <windows.h>

#include "support/held_folder.h"

// One listed entry: its name (at most kHeldPathSize - 1 units), attributes,
// and for a reparse point its tag.
struct ListedEntry {
  wchar_t name[kHeldPathSize];
  DWORD attributes;
  DWORD tag;
};

// The listing's place in the folder (opened with FILE_LIST_DIRECTORY, for
// synchronous I/O, as held folders are). Start it zero-filled.
struct FolderListing {
  bool started;
  ULONG next;  // offset of the next record in the buffer; 0: read more
  alignas(8) BYTE buffer[2048];
};

// The next entry other than "." and "..", in *entry; false at the end, or
// when the folder cannot be listed. A name too long for the entry is passed
// over, as nothing could name it.
bool NextInFolder(const HeldFolder& folder, FolderListing* listing,
                  ListedEntry* entry);
