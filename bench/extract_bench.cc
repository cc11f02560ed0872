// talvorn-bench: the extractor's real unpacking of a payload archive, timed
// against a bare in-memory inflate of the same streams, in one process.
//
//   talvorn-bench time <archive> <run folder> inflate-first|extract-first
//   talvorn-bench memory <archive> <run folder>
//
// The archive file is read into memory first (the extractor reads its
// resource in place; reading is not timed). The run folder must not exist:
// it receives the log, tmp-1 with the unpacked payload, and the in-memory
// run's own copy of zlib1.dll. One extraction per process, as in the shipped
// program, so the zlib binding and the log start fresh every time.
//
// Prints one line of key=value pairs ("BENCH ..." or "MEMORY ...") for
// scripts/bench.sh, and every message box's text, which would otherwise
// block the run. Exit code 0 unless the run could not be made at all.
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cwchar>

#include "bench/inflate_ceiling.h"
#include "bench/memory_probe.h"
#include "compression/inflate_file.h"
#include "payload/archive.h"
#include "payload/extract.h"
#include "payload/own_folder.h"
#include "payload/temp_directory.h"
#include "support/errors.h"
#include "support/log.h"
#include "support/seams.h"
#include "support/text.h"

namespace {

int boxes = 0;

int WINAPI PrintBoxW(HWND, LPCWSTR text, LPCWSTR caption, UINT) {
  ++boxes;
  std::printf("BOX %ls: %ls\n", caption, text);
  std::fflush(stdout);
  return IDOK;
}

int WINAPI PrintBoxA(HWND, LPCSTR text, LPCSTR caption, UINT) {
  ++boxes;
  std::printf("BOX %s: %s\n", caption, text);
  std::fflush(stdout);
  return IDOK;
}

double Now() {
  static LARGE_INTEGER frequency = {};
  if (frequency.QuadPart == 0) QueryPerformanceFrequency(&frequency);
  LARGE_INTEGER now;
  QueryPerformanceCounter(&now);
  return static_cast<double>(now.QuadPart) / frequency.QuadPart;
}

// The whole file in pages of its own, so that nothing the extraction frees
// or allocates later shares them.
uint8_t* ReadWholeFile(const wchar_t* path, DWORD* size) {
  HANDLE file = CreateFileW(path, GENERIC_READ, FILE_SHARE_READ, nullptr,
                            OPEN_EXISTING, 0, nullptr);
  if (file == INVALID_HANDLE_VALUE) return nullptr;
  *size = GetFileSize(file, nullptr);
  uint8_t* bytes = static_cast<uint8_t*>(
      VirtualAlloc(nullptr, *size + 1, MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE));
  DWORD done = 0;
  bool ok = bytes != nullptr && ReadFile(file, bytes, *size, &done, nullptr) &&
            done == *size;
  CloseHandle(file);
  return ok ? bytes : nullptr;
}

bool WriteWholeFile(const wchar_t* path, const uint8_t* bytes, DWORD size) {
  HANDLE file = CreateFileW(path, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  DWORD done = 0;
  bool ok = WriteFile(file, bytes, size, &done, nullptr) && done == size;
  CloseHandle(file);
  return ok;
}

// Files and bytes below folder, for checking that the extraction is whole.
void CountTree(const wchar_t* folder, int* files, double* bytes) {
  wchar_t pattern[MAX_PATH];
  FormatText(pattern, MAX_PATH, L"%s\\*", folder);
  WIN32_FIND_DATAW found;
  HANDLE search = FindFirstFileW(pattern, &found);
  if (search == INVALID_HANDLE_VALUE) return;
  do {
    if (std::wcscmp(found.cFileName, L".") == 0 ||
        std::wcscmp(found.cFileName, L"..") == 0) {
      continue;
    }
    if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
      wchar_t inner[MAX_PATH];
      FormatText(inner, MAX_PATH, L"%s\\%s", folder, found.cFileName);
      CountTree(inner, files, bytes);
    } else {
      ++*files;
      *bytes += found.nFileSizeLow + 4294967296.0 * found.nFileSizeHigh;
    }
  } while (FindNextFileW(search, &found));
  FindClose(search);
}

struct Extraction {
  double seconds = 0;
  int count = 0;
  int raisedCode = 0;  // the CException's code; 0 when none was raised
  bool raised = false;
  wchar_t folder[kPathSize] = {};  // tmp-n, where the payload went
};

// What ExtractPayload does around the resource, with the archive from memory:
// the log in the run folder, tmp-n inside it, then the timed ExtractFiles.
Extraction Extract(const uint8_t* archive, DWORD size, const wchar_t* run) {
  Extraction result;
  HeldFolder base;
  HoldExtractorFolder(run, &base);
  OpenExtractionLogIn(base);
  HeldFolder tmp;
  InitHeldFolder(&tmp);
  double start = 0;
  try {
    CreateTempDirectory(base, L"tmp", &tmp);
    CopyText(result.folder, kPathSize, tmp.path);
    start = Now();
    result.count = ExtractFiles(archive, tmp, static_cast<int32_t>(size - kTrailerSize));
  } catch (CException* raised) {
    result.raised = true;
    result.raisedCode = raised->code;
  }
  result.seconds = start > 0 ? Now() - start : 0;
  FreeZlib();
  ReleaseHeldFolder(&tmp);
  ReleaseHeldFolder(&base);
  CloseExtractionLog();
  return result;
}

struct Ceiling {
  double seconds = 0;
  int64_t inflated = -1;
};

Ceiling InflateInMemory(const PayloadEntries& entries, const wchar_t* run) {
  Ceiling result;
  wchar_t folder[MAX_PATH], dll[MAX_PATH];
  FormatText(folder, MAX_PATH, L"%s\\ceiling", run);
  FormatText(dll, MAX_PATH, L"%s\\zlib1.dll", folder);
  CreateDirectoryW(folder, nullptr);
  ZlibLibrary zlib;
  if (!WriteWholeFile(dll, entries.raw, entries.rawSize) || !zlib.Load(dll)) {
    std::printf("cannot load the payload's zlib1.dll from %ls\n", dll);
    return result;
  }
  unsigned char* buffer =
      static_cast<unsigned char*>(std::malloc(kInflateBufferSize));
  double start = Now();
  result.inflated = InflateAll(zlib, entries, buffer, kInflateBufferSize);
  result.seconds = Now() - start;
  std::free(buffer);
  return result;
}

// Checks the unpacked tree against the archive: every entry a file, and
// every inflated byte (plus the raw library) on disk.
void PrintOutcome(const Extraction& extraction, const PayloadEntries& entries,
                  int64_t inflated) {
  int files = 0;
  double bytes = 0;
  CountTree(extraction.folder, &files, &bytes);
  bool whole = !extraction.raised && extraction.count == entries.count &&
               files == entries.count && inflated >= 0 &&
               bytes == static_cast<double>(inflated) + entries.rawSize;
  std::printf(" entries=%d extracted_files=%d extracted_bytes=%.0f"
              " verified=%d raised=%d boxes=%d\n",
              entries.count, files, bytes, whole ? 1 : 0,
              extraction.raised ? extraction.raisedCode : 0, boxes);
}

int TimeBoth(const uint8_t* archive, DWORD size, const PayloadEntries& entries,
             const wchar_t* run, bool inflateFirst) {
  Ceiling ceiling;
  if (inflateFirst) ceiling = InflateInMemory(entries, run);
  Extraction extraction = Extract(archive, size, run);
  if (!inflateFirst) ceiling = InflateInMemory(entries, run);
  std::printf("BENCH archive=%lu raw=%u inflated=%.0f extract_s=%.6f"
              " inflate_s=%.6f",
              size, entries.rawSize, static_cast<double>(ceiling.inflated),
              extraction.seconds, ceiling.seconds);
  PrintOutcome(extraction, entries, ceiling.inflated);
  return 0;
}

int MeasureMemory(const uint8_t* archive, DWORD size,
                  const PayloadEntries& entries, const wchar_t* run) {
  UseProcStatus(run);
  PeakSampler sampler;
  sampler.Start();
  // The log first (Extract then finds it open): its thread costs the run the
  // same whatever it unpacks, and Wine gives every thread about 1 MiB of its
  // own (the stack of its Unix side, touched as the thread starts). Reported
  // apart from the growth; a thread slower to start than the pause would
  // only add to the growth.
  MemorySample beforeLog = SampleMemory();
  OpenExtractionLog(run);
  Sleep(200);
  MemorySample before = SampleMemory();
  Extraction extraction = Extract(archive, size, run);
  sampler.Stop();
  MemorySample after = SampleMemory();
  // Only now, so that its buffer and library cannot lend the extraction
  // memory that would hide growth.
  Ceiling ceiling = InflateInMemory(entries, run);
  std::printf("MEMORY source=%s private_before_log=%.0f private_before=%.0f"
              " private_peak=%.0f"
              " private_after=%.0f resident_before=%.0f resident_peak=%.0f"
              " hwm_before=%.0f hwm_after=%.0f samples=%d extract_s=%.6f",
              MemorySource(), beforeLog.privateBytes, before.privateBytes,
              sampler.peakPrivate(),
              after.privateBytes, before.resident, sampler.peakResident(),
              before.peakResident, after.peakResident, sampler.samples(),
              extraction.seconds);
  PrintOutcome(extraction, entries, ceiling.inflated);
  return 0;
}

int Usage() {
  std::printf("usage: talvorn-bench time <archive> <run folder> "
              "inflate-first|extract-first\n"
              "       talvorn-bench memory <archive> <run folder>\n");
  return 2;
}

}  // namespace

int main() {
  int argc = 0;
  wchar_t** argv = CommandLineToArgvW(GetCommandLineW(), &argc);
  if (argv == nullptr || argc < 4) return Usage();
  bool timing = std::wcscmp(argv[1], L"time") == 0;
  bool memory = std::wcscmp(argv[1], L"memory") == 0;
  if (!(timing && argc == 5) && !(memory && argc == 4)) return Usage();

  seams::messageBoxW = PrintBoxW;
  seams::messageBoxA = PrintBoxA;
  DWORD size = 0;
  const uint8_t* archive = ReadWholeFile(argv[2], &size);
  PayloadEntries entries;
  if (archive == nullptr || size < kTrailerSize ||
      !ListPayloadEntries(archive, static_cast<int32_t>(size - kTrailerSize),
                          &entries)) {
    std::printf("cannot read a payload archive from %ls\n", argv[2]);
    return 1;
  }
  const wchar_t* run = argv[3];
  if (!CreateDirectoryW(run, nullptr)) {
    std::printf("cannot make the fresh run folder %ls\n", run);
    return 1;
  }
  if (memory) return MeasureMemory(archive, size, entries, run);
  return TimeBoth(archive, size, entries, run,
                  std::wcscmp(argv[4], L"inflate-first") == 0);
}
