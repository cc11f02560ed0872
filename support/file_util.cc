#include "support/file_util.h"

#include <shlobj.h>

#include <cstdlib>

#include "support/errors.h"
#include "support/text.h"

uint8_t* ReadFileContents(const wchar_t* path) {
  HANDLE file = CreateFileW(path, GENERIC_READ, FILE_SHARE_READ, nullptr,
                            OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  return ReadOpenedFile(file, path);
}

uint8_t* ReadOpenedFile(HANDLE file, const wchar_t* path) {
  if (file == INVALID_HANDLE_VALUE) {
    ReportErrorFormat(L"Could not open file \"%s\"", path);
    return nullptr;
  }
  // A size whose block would not fit (with the zero bytes added) is refused
  // like a block that cannot be had: the sum would wrap to a tiny block.
  LARGE_INTEGER whole;
  bool known = GetFileSizeEx(file, &whole) != 0;
  if (known && whole.QuadPart > kMaxContentsSize) {
    CloseHandle(file);
    ReportErrorA("Memory error");
    return nullptr;
  }
  DWORD size = known ? static_cast<DWORD>(whole.QuadPart) : 0;
  if (size == 0) {
    CloseHandle(file);
    ReportErrorA("ReadFileContents empty");
    return nullptr;
  }
  // Two zero bytes end the text; a third keeps an odd-length file, read as
  // 16-bit text, from running one byte past the block.
  uint8_t* block = static_cast<uint8_t*>(std::malloc(size + 3));
  if (block == nullptr) {
    CloseHandle(file);
    ReportErrorA("Memory error");
    return nullptr;
  }
  DWORD got = 0;
  while (got < size) {
    DWORD read = 0;
    if (!ReadFile(file, block + got, size - got, &read, nullptr)) read = 0;
    if (read == 0) {
      CloseHandle(file);
      std::free(block);
      ReportErrorA("Error reading file. Readlen=0");
      return nullptr;
    }
    got += read;
  }
  CloseHandle(file);
  block[size] = block[size + 1] = block[size + 2] = 0;
  return block;
}

bool FileExists(const wchar_t* path) {
  HANDLE file = CreateFileW(path, GENERIC_READ, 0, nullptr, OPEN_EXISTING,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  CloseHandle(file);
  return true;
}

bool WriteAll(HANDLE file, const void* buffer, DWORD length) {
  DWORD written = 0;
  return WriteFile(file, buffer, length, &written, nullptr) && written == length;
}

bool AppendBackslash(wchar_t* path, size_t cap) {
  size_t n = static_cast<size_t>(lstrlenW(path));
  if (n > 0 && path[n - 1] == L'\\') return true;
  return AppendText(path, cap, L"\\");
}

void CutLastComponent(wchar_t* path) {
  for (int i = lstrlenW(path) - 1; i >= 1; --i) {
    if (path[i] == L'\\') {
      path[i] = 0;
      return;
    }
  }
}

void CutToFolder(wchar_t* path, size_t cap, bool systemName) {
  CutLastComponent(path);
  int n = 0;
  int slashes = 0;
  for (; path[n] != 0; ++n) slashes += path[n] == L'\\';
  // A full path with a backslash second is a share's ("\\server\share").
  bool share = n > 2 && path[1] == L'\\' && slashes == 3;
  bool drive = n == 2 && path[1] == L':';
  if (systemName || share || drive) AppendBackslash(path, cap);
}

void GetModulePath(wchar_t* buffer) {
  DWORD n = GetModuleFileNameW(nullptr, buffer, kModulePathSize);
  // n == size means the platform cut the path (and older systems leave it
  // unterminated); a cut path would place the log and tmp-n somewhere else.
  if (n == 0 || n >= kModulePathSize) buffer[0] = 0;
}

bool GetSpecialFolder(wchar_t* buffer, int csidl) {
  LPITEMIDLIST list = nullptr;
  if (FAILED(SHGetSpecialFolderLocation(nullptr, csidl, &list))) return false;
  BOOL found = SHGetPathFromIDListW(list, buffer);
  ILFree(list);
  return found && AppendBackslash(buffer, kFolderPathSize);
}

bool GetDocumentsFolder(wchar_t* buffer) {
  return GetSpecialFolder(buffer, CSIDL_PERSONAL);
}

bool GetProgramsSubfolder(wchar_t* buffer, const wchar_t* subfolder) {
  if (!GetSpecialFolder(buffer, CSIDL_PROGRAMS)) return false;
  return AppendText(buffer, kFolderPathSize, subfolder);
}

bool GetDesktopFolder(wchar_t* buffer) {
  return GetSpecialFolder(buffer, CSIDL_DESKTOPDIRECTORY);
}

bool GetProgramFilesFolder(wchar_t* buffer) {
  return GetSpecialFolder(buffer, CSIDL_PROGRAM_FILES);
}

bool JoinPath(wchar_t* out, size_t cap, const wchar_t* folder,
              const wchar_t* name) {
  if (CopyText(out, cap, folder) && AppendBackslash(out, cap) &&
      AppendText(out, cap, name)) {
    return true;
  }
  if (cap > 0) out[0] = 0;
  return false;
}

bool FolderExists(const wchar_t* path) {
  DWORD attributes = GetFileAttributesW(path);
  return attributes != INVALID_FILE_ATTRIBUTES &&
         (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}
