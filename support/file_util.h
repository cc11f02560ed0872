// Small file, path and special-folder operations shared by the extractor.
// Paths are zero-terminated 16-bit strings in fixed buffers owned by callers.
#pragma once

#include <windows.h>

#include <cstdint>

const size_t kModulePathSize = 256;
const size_t kFolderPathSize = MAX_PATH;

// The whole file plus two zero bytes (so it reads as an 8-bit or, for an even
// length, a 16-bit zero-terminated text), from the runtime heap: release it
// with free(). Null after an error report.
uint8_t* ReadFileContents(const wchar_t* path);

// The same for a file opened for reading (or INVALID_HANDLE_VALUE, which is
// reported as a file that could not be opened), which it closes; path names
// it in messages.
uint8_t* ReadOpenedFile(HANDLE file, const wchar_t* path);

// The largest file read whole: a larger one is reported as "Memory error".
const LONGLONG kMaxContentsSize = 0x7FFFFFF0;

// True when path opens for reading with no sharing: a file held open by
// another process, and a folder, count as absent.
bool FileExists(const wchar_t* path);

// One write of length bytes; a failed or short write raises ("Error writing
// <label>").
void WriteOrFail(const void* buffer, uint32_t length, HANDLE file,
                 const char* label);

// One write call; true only when it succeeded with every byte written. On a
// full disk a write can succeed with fewer bytes than asked.
bool WriteAll(HANDLE file, const void* buffer, DWORD length);

// Appends "\" unless path already ends in one (an empty path gets one).
// False, path unchanged, when the buffer (cap units) has no room.
bool AppendBackslash(wchar_t* path, size_t cap);

// Cuts at the last backslash after index 0: C:\dir\x.exe becomes C:\dir.
void CutLastComponent(wchar_t* path);

// The folder of a file's path (cap units), to be opened: cut as above, and
// with its final backslash where that names a root. "E:" alone names the
// drive's current folder, and the system's name of a volume
// ("\Device\HarddiskVolume3", given with systemName) the volume rather than
// its root folder; a share's root ("\\server\share") wants one too. The
// system's names keep it always: a folder opens with one as without.
void CutToFolder(wchar_t* path, size_t cap, bool systemName);

// The extractor's own path, or the empty string when the platform gives none
// or the path does not fit in kModulePathSize units.
void GetModulePath(wchar_t* buffer);

// A shell folder with a trailing backslash in buffer (kFolderPathSize units).
bool GetSpecialFolder(wchar_t* buffer, int csidl);
bool GetDocumentsFolder(wchar_t* buffer);
bool GetProgramsSubfolder(wchar_t* buffer, const wchar_t* subfolder);
bool GetDesktopFolder(wchar_t* buffer);
bool GetProgramFilesFolder(wchar_t* buffer);

// out = folder, a backslash unless folder ends in one, name. When that does
// not fit in cap units, out is made empty, which names no file.
bool JoinPath(wchar_t* out, size_t cap, const wchar_t* folder,
              const wchar_t* name);

// True when path names an existing folder.
bool FolderExists(const wchar_t* path);
