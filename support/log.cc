#include "support/log.h"

#include <cstdarg>

#include "support/errors.h"
#include "support/file_entry.h"
#include "support/file_util.h"
#include "support/text.h"

int logAttempted = 0;

namespace {

wchar_t logPath[kLogPathSize];
HANDLE logHandle = INVALID_HANDLE_VALUE;
// The log file made, known by its identity and by where its name led when it
// was made: at the end only that file is deleted, whatever a link above it
// has come to lead to.
BY_HANDLE_FILE_INFORMATION logIdentity;
wchar_t logResolved[kLogPathSize];
bool logMade = false;

void WriteBytes(const void* bytes, DWORD count) {
  DWORD written = 0;
  WriteFile(logHandle, bytes, count, &written, nullptr);
}

}  // namespace

void OpenExtractionLog(const wchar_t* folder) {
  if (logAttempted) return;
  logAttempted = 1;
  bool fits = CopyText(logPath, kLogPathSize, folder) &&
              AppendBackslash(logPath, kLogPathSize) &&
              AppendText(logPath, kLogPathSize, L"TLExtractorLog.txt");
  if (!fits) {
    // A cut path would name some other file: report it like any failed
    // creation and run without a log.
    ReportErrorCode(L"Error creating log file %s %d", logPath,
                    ERROR_FILENAME_EXCED_RANGE);
    logPath[0] = 0;
    return;
  }
  // The folder is one that others can write, and the extractor runs
  // elevated: a name planted there as a link (or a hard link) to some other
  // file must not make it overwrite or delete that file. The old log's name
  // is removed through a handle on the entry itself, which leaves whatever it
  // points at alone (a link the system cannot open as such stays, and the
  // log then cannot be made), and the new log is made afresh without
  // following anything.
  DeleteEntryItself(logPath);
  logHandle = CreateFileW(logPath, GENERIC_READ | GENERIC_WRITE,
                          FILE_SHARE_READ, nullptr, CREATE_NEW,
                          FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT,
                          nullptr);
  if (logHandle == INVALID_HANDLE_VALUE) {
    ReportErrorCode(L"Error creating log file %s %d", logPath,
                    static_cast<int>(GetLastError()));
    return;
  }
  logMade = GetFileInformationByHandle(logHandle, &logIdentity) &&
            FinalPath(logHandle, logResolved, kLogPathSize);
  static const unsigned char kByteOrderMark[2] = {0xFF, 0xFE};
  WriteBytes(kByteOrderMark, sizeof kByteOrderMark);
  LogLine(logPath);
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
  if (errorShown) return;
  // Not by name: since the log was closed its name may lead anywhere. A log
  // that cannot be deleted stays; there is nowhere left to say so.
  if (logMade) DeleteSameEntry(logResolved, logIdentity);
}

const wchar_t* ExtractionLogPath() { return logPath; }

void ResetLogForTesting() {
  if (logHandle != INVALID_HANDLE_VALUE) CloseHandle(logHandle);
  logHandle = INVALID_HANDLE_VALUE;
  logAttempted = 0;
  logPath[0] = 0;
  logMade = false;
}
