#include "support/log.h"

#include <winternl.h>

#include <cstdarg>

#include "support/errors.h"
#include "support/file_util.h"
#include "support/held_folder.h"
#include "support/ntdll.h"
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

// Each line is written before LogLine returns, and so is in the system's
// cache should the process die; getting it onto the disk is left to a thread
// of the log's own. The handle is asynchronous because Windows runs the
// calls on a synchronous handle one at a time: a write would wait for the
// flush under way. Writes therefore name their offset, the end of the log,
// and go through NtWriteFile with no event and no completion context:
// WriteFile passes its OVERLAPPED as one, and Wine answers every such write
// with a round trip to its server, which costs far more than the write.
DWORD logEnd = 0;
using NtWriteFileFn = NTSTATUS(NTAPI*)(HANDLE, HANDLE, PIO_APC_ROUTINE, PVOID,
                                       PIO_STATUS_BLOCK, PVOID, ULONG,
                                       PLARGE_INTEGER, PULONG);
NtWriteFileFn ntWriteFile = nullptr;
HANDLE flusher = nullptr;
HANDLE flusherWake = nullptr;  // auto-reset
volatile LONG stopFlushing = 0;
// Between the writer and the flusher. Lines written while a flush runs are
// all taken by the next one, and only a flusher gone idle needs waking.
enum : LONG { kIdle, kBusy, kPending };
LONG flushState = kBusy;

DWORD WINAPI FlushWrittenLines(void*) {
  for (;;) {
    if (InterlockedCompareExchange(&flushState, kBusy, kPending) == kPending) {
      // A failed flush leaves nothing to do: the lines are written.
      FlushFileBuffers(logHandle);
      // Back to back, flushes (a journal commit each on Linux, an emptying of
      // the disk's cache on Windows) would slow the unpacking's own writes:
      // the next one waits a moment, and takes the lines written meanwhile.
      Sleep(1);
      continue;
    }
    // Nothing new since the last flush: wait for the line that finds the
    // flusher idle.
    if (InterlockedCompareExchange(&flushState, kIdle, kBusy) == kPending) {
      continue;
    }
    WaitForSingleObject(flusherWake, INFINITE);
    if (stopFlushing) return 0;
  }
}

void StartFlusher() {
  flusherWake = CreateEventW(nullptr, FALSE, FALSE, nullptr);
  stopFlushing = 0;
  flushState = kBusy;
  // Without its thread the log flushes each line itself, as it is written.
  if (flusherWake != nullptr) {
    flusher = CreateThread(nullptr, 0x10000, FlushWrittenLines, nullptr,
                           STACK_SIZE_PARAM_IS_A_RESERVATION, nullptr);
  }
}

void WriteBytes(const void* bytes, DWORD count) {
  if (ntWriteFile == nullptr) return;
  IO_STATUS_BLOCK io;
  io.Status = STATUS_PENDING;
  io.Information = 0;
  LARGE_INTEGER at;
  at.QuadPart = logEnd;
  if (ntWriteFile(logHandle, nullptr, nullptr, nullptr, &io,
                  const_cast<void*>(bytes), count, &at, nullptr) < 0) {
    return;  // refused at once: nothing written
  }
  // A write at the end of a file completes at once on local disks. One that
  // pends is waited for by its status, not by a signal: the flushes on the
  // same handle would make the handle's own one unreliable.
  volatile NTSTATUS& status = io.Status;
  while (status == static_cast<NTSTATUS>(STATUS_PENDING)) Sleep(1);
  // A full disk may take part of it.
  if (status >= 0) logEnd += static_cast<DWORD>(io.Information);
}

void CloseIfOpen(HANDLE* handle) {
  if (*handle != nullptr) CloseHandle(*handle);
  *handle = nullptr;
}

// The last lines flushed, the thread gone, and the file closed.
void EndLog() {
  FlushExtractionLog();
  CloseIfOpen(&flusherWake);
  if (logHandle != INVALID_HANDLE_VALUE) CloseHandle(logHandle);
  logHandle = INVALID_HANDLE_VALUE;
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
                             FILE_SHARE_READ, FILE_CREATE,
                             FILE_NON_DIRECTORY_FILE | kAsynchronousIo, nullptr,
                             &logHandle);
  if (error != 0) {
    ReportErrorCode(L"Error creating log file %s %d", logPath,
                    static_cast<int>(error));
    return;
  }
  logMade = GetFileInformationByHandle(logHandle, &logIdentity) != FALSE;
  ntWriteFile = NtdllCall<NtWriteFileFn>("NtWriteFile");
  StartFlusher();
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
  // Unheld, its handle is INVALID_HANDLE_VALUE, which DuplicateHandle would
  // take for this process: the log is then made by the folder's name.
  if (!IsHeld(folder)) {
    OpenExtractionLog(folder.path);
    return;
  }
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
  bool ended = n > 0 && text[n - 1] == L'\n';
  // The text and its line end in one write where they fit: an asynchronous
  // write costs Wine a round trip to its server.
  wchar_t line[kLogLineSize + 2];
  if (!ended && n <= kLogLineSize) {
    CopyMemory(line, text, n * sizeof(wchar_t));
    line[n++] = L'\r';
    line[n++] = L'\n';
    text = line;
    ended = true;
  }
  WriteBytes(text, n * sizeof(wchar_t));
  if (!ended) WriteBytes(L"\r\n", 2 * sizeof(wchar_t));
  if (flusher == nullptr) {
    FlushFileBuffers(logHandle);
  } else if (InterlockedExchange(&flushState, kPending) == kIdle) {
    SetEvent(flusherWake);
  }
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

void FlushExtractionLog() {
  if (flusher != nullptr) {
    stopFlushing = 1;
    SetEvent(flusherWake);
    WaitForSingleObject(flusher, INFINITE);
    CloseIfOpen(&flusher);
  }
  // Lines the thread found only as it was told to stop.
  if (InterlockedExchange(&flushState, kBusy) == kPending) {
    FlushFileBuffers(logHandle);
  }
}

void CloseExtractionLog() {
  EndLog();
  // Not by name: relative to the folder it was made in, and only that file.
  // A log that cannot be deleted stays; there is nowhere left to say so.
  if (!errorShown && logMade) DeleteInFolder(logFolder, kLogName, &logIdentity);
  ReleaseHeldFolder(&logFolder);
}

const wchar_t* ExtractionLogPath() { return logPath; }

void ResetLogForTesting() {
  EndLog();
  logEnd = 0;
  logAttempted = 0;
  logPath[0] = 0;
  logMade = false;
  ReleaseHeldFolder(&logFolder);
}
