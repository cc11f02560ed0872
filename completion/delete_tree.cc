#include "completion/delete_tree.h"

#include "support/text.h"

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
  *isEntry = fits && name[0] != L'.' ? 1 : 0;
  return 1;
}

int DeleteDirectoryTree(const wchar_t* path) {
  if (path[0] == 0) return 0;
  FileSearch search;
  FileSearchInit(&search);
  wchar_t pattern[kTreePathSize];
  wchar_t name[kTreePathSize];
  wchar_t child[kTreePathSize];
  // A pattern that does not fit would search some other folder; the tree is
  // then treated as empty, and only the removal below is tried.
  if (FormatText(pattern, kTreePathSize, L"%s\\*.*", path)) {
    int isEntry = 0;
    int isDirectory = 0;
    for (int index = 1;
         FileSearchNext(&search, pattern, index, name, &isEntry, &isDirectory);
         ++index) {
      if (!isEntry ||
          !FormatText(child, kTreePathSize, L"%s\\%s", path, name)) {
        continue;
      }
      // The walk runs elevated: a junction, mount point or symbolic link is
      // removed as a link and never followed, so what it points at is safe.
      bool link =
          (search.findData.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
      if (isDirectory && !link) {
        DeleteDirectoryTree(child);
      } else if (isDirectory) {
        RemoveDirectoryW(child);
      } else {
        DeleteFileW(child);
      }
    }
    FileSearchClose(&search);
  }
  return RemoveDirectoryW(path);
}
