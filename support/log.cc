#include "support/log.h"

#include <cstdarg>

#include "support/errors.h"
#include "support/file_entry.h"
#include "support/file_util.h"
#include "support/held_folder.h"
#include "support/text.h"

int logAttempted = 0;

namespace {

const wchar_t kLogName[] = L"TLExtractorLog.txt";

wchar_t logPath[kLogPathSize];
HANDLE logHandle = INVALID_HANDLE_VALUE;
// The folder the log lies in, held until the log is closed, and the log file
// made, known by its identity: at the end only that file is deleted from
// that folder, whatever a link above it has come to lead to.
HeldFolder logFolder;
BY_HANDLE_FILE_INFORMATION logIdentity;
bool logMade = false;

void WriteBytes(const void* bytes, DWORD count) {
  DWORD written = 0;
  WriteFile(logHandle, bytes, count, &written, nullptr);
}

// The folder is one that others can write, and the extractor runs elevated:
// a name planted there as a link (or a hard link) to some other file must not
// make it overwrite or delete that file. The old log's name is removed
// through a handle on the entry itself, which leaves whatever it points at
// alone (a link the system cannot open as such stays, and the log then cannot
// be made), and the new log is made afresh without following anything.
void MakeLog() {
  DeleteInFolder(logFolder, kLogName, nullptr);
  DWORD error = OpenInFolder(&logFolder, kLogName, GENERIC_READ | GENERIC_WRITE,
                             FILE_SHARE_READ, FILE_CREATE, FILE_NON_DIRECTORY_FILE,
                             nullptr, &logHandle);
  if (error != 0) {
    ReportErrorCode(L"Error creating log file %s %d", logPath,
                    static_cast<int>(error));
    return;
  }
  logMade = GetFileInformationByHandle(logHandle, &logIdentity) != FALSE;
  static const unsigned char kByteOrderMark[2] = {0xFF, 0xFE};
  WriteBytes(kByteOrderMark, sizeof kByteOrderMark);
  LogLine(logPath);
}

// Claims the one attempt of the run and builds the log's path; false, after
// the report, when it does not fit (a cut path would name some other file).
bool StartAttempt(const wchar_t* folder) {
  if (logAttempted) return false;
  logAttempted = 1;
  bool fits = CopyText(logPath, kLogPathSize, folder) &&
              AppendBackslash(logPath, kLogPathSize) &&
              AppendText(logPath, kLogPathSize, kLogName);
  if (!fits) {
    ReportErrorCode(L"Error creating log file %s %d", logPath,
                    ERROR_FILENAME_EXCED_RANGE);
    logPath[0] = 0;
  }
  return fits;
}

}  // namespace

void OpenExtractionLog(const wchar_t* folder) {
  if (!StartAttempt(folder)) return;
  // The folder as its name gives it now; from here on the held folder.
  DWORD error = HoldFolderAsNamed(folder, &logFolder);
  // As the log file's own creation would say of a folder that is missing.
  if (error == ERROR_FILE_NOT_FOUND) error = ERROR_PATH_NOT_FOUND;
  if (error != 0) {
    ReportErrorCode(L"Error creating log file %s %d", logPath,
                    static_cast<int>(error));
    return;
  }
  MakeLog();
}

void OpenExtractionLogIn(const HeldFolder& folder) {
  if (!StartAttempt(folder.path)) return;
  HANDLE self = GetCurrentProcess();
  DuplicateHandle(self, folder.handle, self, &logFolder.handle, 0, FALSE,
                  DUPLICATE_SAME_ACCESS);
  MakeLog();
}

void LogLine(const wchar_t* text) {
  if (logHandle == INVALID_HANDLE_VALUE && !logAttempted) {
    // Set first: the report below logs its own text, and that nested line
    // must find the log given up rather than report again.
    logAttempted = 1;
    ReportErrorA("No log file");
  }
  if (logHandle == INVALID_HANDLE_VALUE) return;
  DWORD n = static_cast<DWORD>(lstrlenW(text));
  WriteBytes(text, n * sizeof(wchar_t));
  if (n == 0 || text[n - 1] != L'\n') WriteBytes(L"\r\n", 2 * sizeof(wchar_t));
  FlushFileBuffers(logHandle);
}

void LogLineA(const char* text) {
  wchar_t line[kLogLineSize];
  WidenCopy(line, kLogLineSize, text);
  LogLine(line);
}

void LogFormat(const wchar_t* format, ...) {
  wchar_t line[kLogLineSize];
  va_list args;
  va_start(args, format);
  FormatTextV(line, kLogLineSize, format, args);
  va_end(args);
  LogLine(line);
}

void CloseExtractionLog() {
  if (logHandle != INVALID_HANDLE_VALUE) {
    CloseHandle(logHandle);
    logHandle = INVALID_HANDLE_VALUE;
  }
  // Not by name: relative to the folder it was made in, and only that file.
  // A log that cannot be deleted stays; there is nowhere left to say so.
  if (!errorShown && logMade) DeleteInFolder(logFolder, kLogName, &logIdentity);
  ReleaseHeldFolder(&logFolder);
}

const wchar_t* ExtractionLogPath() { return logPath; }

void ResetLogForTesting() {
  if (logHandle != INVALID_HANDLE_VALUE) CloseHandle(logHandle);
  logHandle = INVALID_HANDLE_VALUE;
  logAttempted = 0;
  logPath[0] = 0;
  logMade = false;
  ReleaseHeldFolder(&logFolder);
}
