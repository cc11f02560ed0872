#include "payload/extract.h"

#include <initializer_list>

#include "build_info.h"
#include "compression/inflate_file.h"
#include "compression/zlib_binding.h"
#include "payload/archive.h"
#include "payload/own_folder.h"
#include "payload/temp_directory.h"
#include "security/folder_security.h"
#include "support/bytes.h"
#include "support/errors.h"
#include "support/file_entry.h"
#include "support/file_util.h"
#include "support/log.h"
#include "support/seams.h"
#include "support/text.h"

HINSTANCE instanceHandle = nullptr;

namespace {

// The protected folder tmp-n went to, held until the process ends: tmp-n is
// removed through it.
HeldFolder tempBase;

const wchar_t kEntryFailure[] = L"Error in payload entry";

// The entry's name for a message: its bytes, with anything unprintable shown
// as '?', between double quotes; or its number when no name could be read.
void DescribeEntry(wchar_t* out, size_t cap, const ArchiveEntry& entry,
                   int32_t index, const char* reason) {
  wchar_t name[kMaxEntryNameSize + 1];
  uint32_t n = entry.name ? entry.nameSize : 0;
  if (n > kMaxEntryNameSize) n = kMaxEntryNameSize;
  for (uint32_t i = 0; i < n; ++i) {
    uint8_t c = entry.name[i];
    name[i] = (c < 0x20 || c > 0x7E) ? L'?' : c;
  }
  name[n] = 0;
  wchar_t why[200];
  WidenCopy(why, 200, reason);
  if (entry.name != nullptr) {
    FormatText(out, cap, L"\"%s\" (%s)", name, why);
  } else {
    FormatText(out, cap, L"number %d (%s)", index + 1, why);
  }
}

[[noreturn]] void FailEntry(const ArchiveEntry& entry, int32_t index,
                            const char* reason, int code) {
  wchar_t text[500];
  DescribeEntry(text, 500, entry, index, reason);
  Fail(kEntryFailure, text, code);
}

// The entry's file, made afresh relative to the held folder. Without a held
// folder (tmp-n could not be made) nothing is written anywhere: the entry
// fails as one by its path would, its folder not found.
HANDLE CreateEntryFile(const HeldFolder& folder, const wchar_t* name,
                       SECURITY_DESCRIPTOR* owner, DWORD* error) {
  HANDLE file = INVALID_HANDLE_VALUE;
  *error = ERROR_PATH_NOT_FOUND;
  if (!IsHeld(folder)) return file;
  // tmp-n is new, so an entry's file almost always is too, and is made as
  // new: one made by replacing is truncated first, which has Linux (under
  // Wine) write it out as it is closed and every flush of the log wait for
  // that. Whatever stands in the way is then replaced, as before, and a
  // failure is the replacing one's.
  for (ULONG disposition : {ULONG{FILE_CREATE}, ULONG{FILE_OVERWRITE_IF}}) {
    *error = OpenInFolder(&folder, name, GENERIC_READ | GENERIC_WRITE, 0,
                          disposition, FILE_NON_DIRECTORY_FILE, owner, &file);
    if (*error == 0) break;
  }
  return file;
}

// The payload cannot be reached: shown, not logged, and the run ends.
int PayloadMissing(const wchar_t* text) {
  seams::messageBoxW(nullptr, text, L"Error", MB_OK | MB_ICONERROR);
  return -1;
}

}  // namespace

int ExtractPayload(HeldFolder* tempDirectory) {
  InitHeldFolder(tempDirectory);
  wchar_t modulePath[kPathSize];
  GetModulePath(modulePath);
  if (modulePath[0] == 0) {
    // Without its own path (or with a cut one) the extractor would put its
    // log and tmp-n in some other folder: stop before anything is written.
    return PayloadMissing(L"Error finding installer application");
  }
  // Held since the run started: the log and tmp-n are made relative to it.
  HoldOwnFolder();
  const HeldFolder& folder = OwnFolder();
  DWORD unresolved = OwnFolderError();
  OpenExtractionLogIn(folder);
  LogLineA(kBuildDate);
  LogLine(modulePath);
  ReleaseHeldFolder(&tempBase);
  DWORD error = MakeTempDirectory(folder, L"tmp", &tempBase, tempDirectory);
  LogFormat(L"Path=\"%s\" archiveDir=\"%s\"", modulePath, tempDirectory->path);
  if (unresolved != 0) {
    LogFormat(L"Where %s lies could not be read (error %d): the run goes on "
              L"with the path as given",
              folder.path, static_cast<int>(unresolved));
  }
  if (error != 0) {
    LogFormat(L"Temporary directory %s could not be made: error %d",
              tempDirectory->path, static_cast<int>(error));
  } else if (const wchar_t* weakness = TempDirectoryWeakness()) {
    LogFormat(L"Temporary directory %s is not protected: %s",
              tempDirectory->path, weakness);
  }

  HRSRC found = FindResourceA(instanceHandle,
                              MAKEINTRESOURCEA(kPayloadResourceId),
                              MAKEINTRESOURCEA(10) /* RT_RCDATA */);
  if (found == nullptr) return PayloadMissing(L"Error finding installer application");
  HGLOBAL loaded = LoadResource(instanceHandle, found);
  if (loaded == nullptr) return PayloadMissing(L"Error loading installer application");
  int32_t length =
      static_cast<int32_t>(SizeofResource(instanceHandle, found)) -
      static_cast<int32_t>(kTrailerSize);
  int count = ExtractFiles(static_cast<const uint8_t*>(LockResource(loaded)),
                           *tempDirectory, length);
  FreeResource(loaded);
  return count;
}

const HeldFolder& TempDirectoryBase() {
  return IsHeld(tempBase) ? tempBase : OwnFolder();
}

int ExtractFiles(const uint8_t* archive, const HeldFolder& destDir,
                 int32_t length) {
  LogFormat(L"ExtractFiles destDir=%s", destDir.path);
  // Once for the whole walk: asking the token is a call to the system.
  FolderSecurity security;
  SECURITY_DESCRIPTOR* owner = RunOwnerSecurity(&security);
  ArchiveWalker walker(archive, length);
  ArchiveEntry entry;
  int count = 0;
  int first = lstrlenW(destDir.path) + 1;
  while (walker.Next(&entry)) {
    char name8[kMaxEntryNameSize + 1];
    CopyBytesTerminated(name8, entry.nameSize, entry.name);
    wchar_t name16[kPathSize];
    WidenCopy(name16, kPathSize, name8);
    wchar_t target[kPathSize];
    if (!CopyText(target, kPathSize, destDir.path) ||
        !AppendText(target, kPathSize, L"\\") ||
        !AppendText(target, kPathSize, name16)) {
      FailEntry(entry, walker.index(),
                "its path in the temporary directory would be too long",
                ERROR_FILENAME_EXCED_RANGE);
    }
    CreateEntryDirectories(destDir, target, first, owner);
    LogFormat(L"Unarchiving file \"%s\", zippedSize=%d", target,
              static_cast<int>(entry.fileSize));
    // A later entry of the same name replaces the file, as for any other.
    DWORD error = 0;
    HANDLE file = CreateEntryFile(destDir, name16, owner, &error);
    if (file == INVALID_HANDLE_VALUE) {
      Fail(L"Error creating target file", target, static_cast<int>(error));
    }
    bool raw = IsRawEntryName(entry.name, entry.nameSize);
    try {
      if (raw) {
        WriteRawData(file, entry.data, entry.fileSize);
        // The loader gets the written file's own place, read from its
        // handle, never the path joined here; none, and no library is
        // loaded ("No zip 100"), where it cannot be read.
        NameForLoader(file, zlibLibraryPath, MAX_PATH);
      } else {
        unzipFrom(file, entry.data, static_cast<int32_t>(entry.fileSize));
      }
    } catch (CException*) {
      // The run ends here and cleans nothing up, but the file it was
      // writing is not kept open: it stays for diagnosis, readable.
      CloseHandle(file);
      throw;
    }
    CloseHandle(file);
    ++count;
  }
  if (walker.error() != WalkError::kNone) {
    const char* reason = walker.error() == WalkError::kBadName
                             ? DescribeNameProblem(walker.nameProblem())
                             : DescribeWalkError(walker.error());
    FailEntry(entry, walker.index(), reason, -1);
  }
  return count;
}

void CreateEntryDirectories(const HeldFolder& folder, const wchar_t* path,
                            int first, SECURITY_DESCRIPTOR* owner) {
  wchar_t working[kPathSize];
  CopyText(working, kPathSize, path);
  for (int i = first; working[i] != 0; ++i) {
    if (working[i] != L'\\') continue;
    working[i] = 0;
    LogFormat(L"CreateDirectory %s", working);
    // Without a held folder nothing is made by name: it fails as the
    // folder's path would, not found.
    DWORD error = ERROR_PATH_NOT_FOUND;
    if (IsHeld(folder)) {
      HANDLE made = INVALID_HANDLE_VALUE;
      error = OpenInFolder(&folder, working + first, FILE_LIST_DIRECTORY,
                           kShareAll, FILE_CREATE, FILE_DIRECTORY_FILE, owner,
                           &made);
      if (made != INVALID_HANDLE_VALUE) CloseHandle(made);
      // A name that exists, a folder or a file, is passed over as
      // CreateDirectoryW's ERROR_ALREADY_EXISTS always was; an entry's file
      // then fails on a file.
      if (error == ERROR_ALREADY_EXISTS) error = 0;
    }
    if (error != 0) {
      Fail(L"Error creating directory", working, static_cast<int>(error));
    }
    working[i] = L'\\';
  }
}

int WriteRawData(HANDLE file, const uint8_t* bytes, uint32_t length) {
  WriteOrFail(bytes, length, file, "Writing raw data");
  return static_cast<int>(length);
}
