#include "completion/delete_tree.h"

#include "support/text.h"

namespace {

// A read-only file (the setup program may leave one) is deleted through one
// handle opened on the entry itself, never on what a link points at: its
// read-only mark is cleared on that handle and the file marked for deletion.
// A reparse point or a file with other hard links is left alone, since its
// attributes belong to something outside the folder too.
void DeleteReadOnlyFile(const wchar_t* path) {
  HANDLE file = CreateFileW(
      path, DELETE | FILE_READ_ATTRIBUTES | FILE_WRITE_ATTRIBUTES,
      FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
      OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
  if (file == INVALID_HANDLE_VALUE) return;
  BY_HANDLE_FILE_INFORMATION info;
  if (GetFileInformationByHandle(file, &info) &&
      (info.dwFileAttributes & FILE_ATTRIBUTE_READONLY) != 0 &&
      (info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) == 0 &&
      info.nNumberOfLinks == 1) {
    FILE_BASIC_INFO basic = {};  // zero times: left as they are
    basic.FileAttributes = info.dwFileAttributes & ~FILE_ATTRIBUTE_READONLY;
    if (basic.FileAttributes == 0) basic.FileAttributes = FILE_ATTRIBUTE_NORMAL;
    FILE_DISPOSITION_INFO dispose = {TRUE};
    if (SetFileInformationByHandle(file, FileBasicInfo, &basic, sizeof basic) &&
        !SetFileInformationByHandle(file, FileDispositionInfo, &dispose,
                                    sizeof dispose)) {
      // Still not deletable: it stays as it was found.
      basic.FileAttributes = info.dwFileAttributes;
      SetFileInformationByHandle(file, FileBasicInfo, &basic, sizeof basic);
    }
  }
  CloseHandle(file);
}

}  // namespace

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
      DWORD attributes = search.findData.dwFileAttributes;
      bool link = (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
      if (isDirectory && !link) {
        DeleteDirectoryTree(child);
      } else if (isDirectory) {
        RemoveDirectoryW(child);
      } else if (!DeleteFileW(child) && !link &&
                 (attributes & FILE_ATTRIBUTE_READONLY) != 0) {
        DeleteReadOnlyFile(child);
      }
    }
    FileSearchClose(&search);
  }
  return RemoveDirectoryW(path);
}
