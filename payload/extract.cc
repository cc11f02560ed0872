#include "payload/extract.h"

#include "build_info.h"
#include "compression/inflate_file.h"
#include "compression/zlib_binding.h"
#include "payload/archive.h"
#include "payload/held_files.h"
#include "payload/temp_directory.h"
#include "support/bytes.h"
#include "support/errors.h"
#include "support/file_util.h"
#include "support/log.h"
#include "support/seams.h"
#include "support/text.h"

HINSTANCE instanceHandle = nullptr;

namespace {

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

// Files that are loaded or started later are held from here on; one that
// cannot be held, or no longer holds what was written, stops the run.
void HoldOnceWritten(const ArchiveEntry& entry, int32_t index,
                     const wchar_t* name, const wchar_t* target, bool raw) {
  DWORD error = 0;
  Hold hold = HoldWrittenFile(name, target, raw, entry.data, entry.fileSize,
                              &error);
  if (hold == Hold::kBusy) {
    FailEntry(entry, index, "opened by another program once written",
              static_cast<int>(error));
  }
  if (hold == Hold::kChanged) {
    FailEntry(entry, index, "changed on disk once written", -1);
  }
}

// tmp-n is new, so an entry's file almost always is too, and is made as new:
// one made by replacing is truncated first, which has Linux (under Wine)
// write it out as it is closed and every flush of the log wait for that.
// Whatever stands in the way is then replaced, as before, and a failure is
// the replacing one's.
HANDLE CreateEntryFile(const wchar_t* target) {
  static const DWORD kDispositions[] = {CREATE_NEW, CREATE_ALWAYS};
  HANDLE file = INVALID_HANDLE_VALUE;
  for (DWORD disposition : kDispositions) {
    if (file != INVALID_HANDLE_VALUE) break;
    file = CreateFileW(target, GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                       disposition, FILE_ATTRIBUTE_NORMAL, nullptr);
  }
  return file;
}

// The payload cannot be reached: shown, not logged, and the run ends.
int PayloadMissing(const wchar_t* text) {
  seams::messageBoxW(nullptr, text, L"Error", MB_OK | MB_ICONERROR);
  return -1;
}

}  // namespace

int ExtractPayload(wchar_t* tempDirectory, wchar_t* extractorFolder) {
  wchar_t modulePath[kPathSize];
  GetModulePath(modulePath);
  if (modulePath[0] == 0) {
    // Without its own path (or with a cut one) the extractor would put its
    // log and tmp-n in some other folder: stop before anything is written.
    tempDirectory[0] = extractorFolder[0] = 0;
    return PayloadMissing(L"Error finding installer application");
  }
  CopyText(extractorFolder, kPathSize, modulePath);
  CutLastComponent(extractorFolder);
  OpenExtractionLog(extractorFolder);
  LogLineA(kBuildDate);
  LogLine(modulePath);
  CopyText(tempDirectory, kPathSize, extractorFolder);
  CreateTempDirectory(tempDirectory, L"tmp");
  LogFormat(L"Path=\"%s\" archiveDir=\"%s\"", modulePath, tempDirectory);
  // Then only the holds keep others from changing what the run uses.
  if (const wchar_t* weakness = TempDirectoryWeakness()) {
    LogFormat(L"Temporary directory %s is not protected: %s", tempDirectory,
              weakness);
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
                           tempDirectory, length);
  FreeResource(loaded);
  return count;
}

int ExtractFiles(const uint8_t* archive, const wchar_t* destDir,
                 int32_t length) {
  LogFormat(L"ExtractFiles destDir=%s", destDir);
  ArchiveWalker walker(archive, length);
  ArchiveEntry entry;
  int count = 0;
  while (walker.Next(&entry)) {
    char name8[kMaxEntryNameSize + 1];
    CopyBytesTerminated(name8, entry.nameSize, entry.name);
    wchar_t name16[kPathSize];
    WidenCopy(name16, kPathSize, name8);
    wchar_t target[kPathSize];
    if (!CopyText(target, kPathSize, destDir) ||
        !AppendText(target, kPathSize, L"\\") ||
        !AppendText(target, kPathSize, name16)) {
      FailEntry(entry, walker.index(),
                "its path in the temporary directory would be too long",
                ERROR_FILENAME_EXCED_RANGE);
    }
    CreateEntryDirectories(target, lstrlenW(destDir) + 1);
    LogFormat(L"Unarchiving file \"%s\", zippedSize=%d", target,
              static_cast<int>(entry.fileSize));
    // A later entry of the same name replaces the file, as for any other.
    bool heldOnceWritten = IsHeldEntry(name16);
    if (heldOnceWritten) ReleaseHeldFile(name16);
    HANDLE file = CreateEntryFile(target);
    if (file == INVALID_HANDLE_VALUE) {
      Fail(L"Error creating target file", target,
           static_cast<int>(GetLastError()));
    }
    bool raw = IsRawEntryName(entry.name, entry.nameSize);
    try {
      if (raw) {
        CopyText(zlibLibraryPath, MAX_PATH, target);
        WriteRawData(file, entry.data, entry.fileSize);
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
    if (heldOnceWritten) {
      HoldOnceWritten(entry, walker.index(), name16, target, raw);
    }
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

void CreateEntryDirectories(const wchar_t* path, int first) {
  wchar_t working[kPathSize];
  CopyText(working, kPathSize, path);
  for (int i = first; working[i] != 0; ++i) {
    if (working[i] != L'\\') continue;
    working[i] = 0;
    LogFormat(L"CreateDirectory %s", working);
    if (!CreateDirectoryW(working, nullptr) &&
        GetLastError() != ERROR_ALREADY_EXISTS) {
      Fail(L"Error creating directory", working,
           static_cast<int>(GetLastError()));
    }
    working[i] = L'\\';
  }
}

int WriteRawData(HANDLE file, const uint8_t* bytes, uint32_t length) {
  WriteOrFail(bytes, length, file, "Writing raw data");
  return static_cast<int>(length);
}
