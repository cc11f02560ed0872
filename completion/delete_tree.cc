#include "completion/delete_tree.h"

#include "support/file_entry.h"
#include "support/folder_listing.h"
#include "support/text.h"

namespace {

// The folder being emptied, held so that nobody can rename it or put a link
// in its place while its entries are removed by path; opened on the entry
// itself, never on what a link points at.
HANDLE HoldFolder(const wchar_t* path) {
  return OpenEntry(path, FILE_LIST_DIRECTORY | FILE_READ_ATTRIBUTES,
                   FILE_SHARE_READ | FILE_SHARE_WRITE);
}

}  // namespace

bool DeleteReadOnlyEntry(const wchar_t* path) {
  HANDLE entry = OpenEntry(path, kDeleteAccess, kShareAll);
  BY_HANDLE_FILE_INFORMATION info;
  // As current Windows deletes: the name goes at once, even while a scanner
  // still has the file open, and the mark need not be cleared.
  bool deleted = ReadUnlessLink(entry, path, &info) &&
                 info.nNumberOfLinks == 1 && DeleteThroughHandle(entry);
  if (entry != INVALID_HANDLE_VALUE) CloseHandle(entry);
  return deleted;
}

void FileSearchInit(FileSearch* search) { search->open = 0; }

void FileSearchClose(FileSearch* search) {
  if (!search->open) return;
  search->open = 0;
  FindClose(search->handle);
}

int FileSearchNext(FileSearch* search, const wchar_t* pattern, int index,
                   wchar_t* name, int* isEntry, int* isDirectory) {
  if (index == 1) {
    FileSearchClose(search);
    search->pattern = pattern;
    search->handle = FindFirstFileW(pattern, &search->findData);
    if (search->handle == INVALID_HANDLE_VALUE) return 0;
    search->open = 1;
  } else if (!FindNextFileW(search->handle, &search->findData)) {
    return 0;
  }
  bool fits = CopyText(name, kTreePathSize, search->findData.cFileName);
  *isDirectory =
      (search->findData.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) ? 1 : 0;
  // Only the folder itself and its parent are passed over: a payload file
  // such as ".version" is removed like any other.
  bool self = name[0] == L'.' &&
              (name[1] == 0 || (name[1] == L'.' && name[2] == 0));
  *isEntry = fits && !self ? 1 : 0;
  return 1;
}

int DeleteHeldDirectoryTree(HeldFolder* folder, const HeldFolder* parent) {
  const wchar_t* path = folder->path;
  if (parent != nullptr && IsHeld(*parent)) {
    const wchar_t* name = path;
    for (const wchar_t* c = path; *c != 0; ++c) {
      if (*c == L'\\') name = c + 1;
    }
    BY_HANDLE_FILE_INFORMATION info;
    bool walk = IsHeld(*folder) && !HandleIsLink(folder->handle) &&
                GetFileInformationByHandle(folder->handle, &info);
    if (walk) EmptyHeldFolder(*folder, nullptr);
    ReleaseHeldFolder(folder);
    return walk && DeleteInFolder(*parent, name, &info) == 0 ? 1 : 0;
  }
  // The walk runs elevated. A folder that cannot be held, or that is a link
  // itself, is not walked: only the removal below is tried, which takes a
  // link away without following it.
  BY_HANDLE_FILE_INFORMATION info;
  bool walk = path[0] != 0 && ReadUnlessLink(folder->handle, path, &info);
  if (walk) EmptyHeldFolder(*folder, nullptr);
  ReleaseHeldFolder(folder);
  if (path[0] == 0) return 0;
  if (!walk) return DeleteEntryItself(path) ? 1 : 0;
  return DeleteSameEntry(path, info) ? 1 : 0;
}

int DeleteDirectoryTree(const wchar_t* path) {
  HeldFolder folder;
  InitHeldFolder(&folder);
  if (path[0] == 0 || !CopyText(folder.path, kHeldPathSize, path)) return 0;
  folder.handle = HoldFolder(path);
  return DeleteHeldDirectoryTree(&folder);
}

void EmptyHeldFolder(const HeldFolder& folder,
                     void (*stayed)(const wchar_t* folderPath,
                                    const wchar_t* name, DWORD error)) {
  // Listed through its handle and each entry opened relative to it: no name
  // is built for any of it.
  FolderListing listing = {};
  ListedEntry entry;
  while (NextInFolder(folder, &listing, &entry)) {
    const wchar_t* name = entry.name;
    // A junction, mount point or symbolic link is deleted as a link and never
    // walked, so what it points at is safe; the hold refuses one swapped in.
    bool link = IsLinkTag(entry.attributes, entry.tag);
    bool isDirectory = (entry.attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
    BY_HANDLE_FILE_INFORMATION identity;
    BY_HANDLE_FILE_INFORMATION* same = nullptr;
    DWORD error = 0;
    if (isDirectory && !link) {
      HeldFolder inner;
      error = HoldExistingFolder(&folder, name, FILE_LIST_DIRECTORY,
                                 FILE_SHARE_READ | FILE_SHARE_WRITE, &inner);
      if (error == 0 && GetFileInformationByHandle(inner.handle, &identity)) {
        same = &identity;
        EmptyHeldFolder(inner, stayed);
      }
      // Let go of, so that it can be opened for deletion.
      ReleaseHeldFolder(&inner);
    }
    if (error == 0) error = DeleteInFolder(folder, name, same);
    if (error != 0 && stayed != nullptr) stayed(folder.path, name, error);
  }
}
