#include "completion/delete_tree.h"

#include "support/text.h"

namespace {

// Not in the SDK level this program is built for; present from Windows 10.
const FILE_INFO_BY_HANDLE_CLASS kDispositionInfoEx =
    static_cast<FILE_INFO_BY_HANDLE_CLASS>(21);
const DWORD kDispositionDelete = 0x1;
const DWORD kDispositionPosixSemantics = 0x2;
const DWORD kDispositionIgnoreReadOnly = 0x10;

bool SetDisposition(HANDLE entry, DWORD flags) {
  return SetFileInformationByHandle(entry, kDispositionInfoEx, &flags,
                                    sizeof flags) != FALSE;
}

// The folder being emptied, held so that nobody can rename it or put a link
// in its place while its entries are removed by path; opened on the entry
// itself, never on what a link points at.
HANDLE HoldFolder(const wchar_t* path) {
  return CreateFileW(path, FILE_LIST_DIRECTORY | FILE_READ_ATTRIBUTES,
                     FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                     OPEN_EXISTING,
                     FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT,
                     nullptr);
}

// The open entry's information, unless it is a link. Asked of the entry and
// of its name: where the system cannot open a link itself (Wine follows it),
// the name still tells.
bool ReadUnlessLink(HANDLE entry, const wchar_t* path,
                    BY_HANDLE_FILE_INFORMATION* info) {
  DWORD named = GetFileAttributesW(path);
  return entry != INVALID_HANDLE_VALUE &&
         GetFileInformationByHandle(entry, info) &&
         (info->dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) == 0 &&
         named != INVALID_FILE_ATTRIBUTES &&
         (named & FILE_ATTRIBUTE_REPARSE_POINT) == 0;
}

// The fallback where the system has no POSIX-semantics disposition: the mark
// is cleared on the handle and put back if the entry still cannot go.
bool ClearMarkAndDispose(HANDLE entry, const BY_HANDLE_FILE_INFORMATION& info) {
  FILE_BASIC_INFO basic = {};  // zero times: left as they are
  basic.FileAttributes = info.dwFileAttributes & ~FILE_ATTRIBUTE_READONLY;
  if (basic.FileAttributes == 0) basic.FileAttributes = FILE_ATTRIBUTE_NORMAL;
  if (!SetFileInformationByHandle(entry, FileBasicInfo, &basic, sizeof basic)) {
    return false;
  }
  FILE_DISPOSITION_INFO dispose = {TRUE};
  if (SetDisposition(entry, kDispositionDelete | kDispositionPosixSemantics) ||
      SetFileInformationByHandle(entry, FileDispositionInfo, &dispose,
                                 sizeof dispose)) {
    return true;
  }
  basic.FileAttributes = info.dwFileAttributes;
  SetFileInformationByHandle(entry, FileBasicInfo, &basic, sizeof basic);
  return false;
}

}  // namespace

bool DeleteReadOnlyEntry(const wchar_t* path) {
  HANDLE entry = CreateFileW(
      path, DELETE | FILE_READ_ATTRIBUTES | FILE_WRITE_ATTRIBUTES,
      FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
      OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT | FILE_FLAG_BACKUP_SEMANTICS,
      nullptr);
  BY_HANDLE_FILE_INFORMATION info;
  // As current Windows deletes: the name goes at once, even while a scanner
  // still has the file open, and the mark need not be cleared.
  bool deleted = ReadUnlessLink(entry, path, &info) && info.nNumberOfLinks == 1 &&
                 (SetDisposition(entry, kDispositionDelete |
                                            kDispositionPosixSemantics |
                                            kDispositionIgnoreReadOnly) ||
                  ClearMarkAndDispose(entry, info));
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

int DeleteDirectoryTree(const wchar_t* path) {
  if (path[0] == 0) return 0;
  FileSearch search;
  FileSearchInit(&search);
  wchar_t pattern[kTreePathSize];
  wchar_t name[kTreePathSize];
  wchar_t child[kTreePathSize];
  // The walk runs elevated. A folder that cannot be held, or that is a link
  // itself, is not walked: only the removal below is tried, which takes a
  // link away without following it. A pattern that does not fit would search
  // some other folder; the tree is then treated as empty too.
  HANDLE held = HoldFolder(path);
  BY_HANDLE_FILE_INFORMATION info;
  bool walk = ReadUnlessLink(held, path, &info) &&
              FormatText(pattern, kTreePathSize, L"%s\\*.*", path);
  if (walk) {
    int isEntry = 0;
    int isDirectory = 0;
    for (int index = 1;
         FileSearchNext(&search, pattern, index, name, &isEntry, &isDirectory);
         ++index) {
      if (!isEntry ||
          !FormatText(child, kTreePathSize, L"%s\\%s", path, name)) {
        continue;
      }
      // A junction, mount point or symbolic link is removed as a link and
      // never followed, so what it points at is safe.
      DWORD attributes = search.findData.dwFileAttributes;
      bool link = (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
      if (isDirectory && !link) {
        DeleteDirectoryTree(child);
      } else if (isDirectory) {
        RemoveDirectoryW(child);
      } else if (!DeleteFileW(child) && !link &&
                 (attributes & FILE_ATTRIBUTE_READONLY) != 0) {
        DeleteReadOnlyEntry(child);
      }
    }
    FileSearchClose(&search);
  }
  if (held != INVALID_HANDLE_VALUE) CloseHandle(held);
  if (RemoveDirectoryW(path)) return 1;
  // Windows refuses to remove a folder marked read-only.
  return walk && (info.dwFileAttributes & FILE_ATTRIBUTE_READONLY) != 0 &&
                 DeleteReadOnlyEntry(path)
             ? 1
             : 0;
}
