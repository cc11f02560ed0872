#include "compression/zlib_binding.h"

#include "support/errors.h"

wchar_t zlibLibraryPath[MAX_PATH];
HMODULE zlibModule = nullptr;
int zlibAttempted = 0;

namespace {

// zlib1.dll exports its functions with the C calling convention.
using InflateInitFn = int(__cdecl*)(ZStream*, const char*, int);
using InflateFn = int(__cdecl*)(ZStream*, int);
using InflateEndFn = int(__cdecl*)(ZStream*);

struct ProcName {
  const char* name;
  bool required;
};

// The contract with the library the payload carries: all but gzwrite must be
// there, although decompression calls only the first three.
const ProcName kProcNames[] = {
    {"inflateEnd", true},   {"inflate", true},      {"inflateInit_", true},
    {"inflateInit2_", true}, {"deflateEnd", true},  {"deflate", true},
    {"deflateInit_", true}, {"gzopen", true},       {"gzclose", true},
    {"gzread", true},       {"gzwrite", false},     {"inflateSync", true},
    {"crc32", true},        {"get_crc_table", true}, {"deflateInit2_", true},
};
const int kProcCount = sizeof kProcNames / sizeof kProcNames[0];
enum { kInflateEnd = 0, kInflate = 1, kInflateInit = 2 };

FARPROC procTable[kProcCount];

bool Bound() { return zlibModule != nullptr; }

}  // namespace

void LoadZlib() {
  if (zlibAttempted) return;
  zlibModule = LoadLibraryW(zlibLibraryPath);
  if (zlibModule == nullptr) ReportErrorCodeA("%s %d", "No zip", 100);
  bool complete = true;
  for (int i = 0; i < kProcCount; ++i) {
    procTable[i] =
        zlibModule ? GetProcAddress(zlibModule, kProcNames[i].name) : nullptr;
    if (procTable[i] == nullptr && kProcNames[i].required) complete = false;
  }
  if (!complete) {
    if (zlibModule != nullptr) FreeLibrary(zlibModule);
    zlibModule = nullptr;
    ReportErrorCodeA("%s %d", "No zip procs", 100);
  }
  zlibAttempted = 1;
}

int ZlibInflateInit(ZStream* stream, const char* version, int streamSize) {
  LoadZlib();
  if (!Bound()) return Z_STREAM_ERROR;
  return reinterpret_cast<InflateInitFn>(procTable[kInflateInit])(stream, version,
                                                       streamSize);
}

int ZlibInflate(ZStream* stream, int flush) {
  LoadZlib();
  if (!Bound()) return Z_STREAM_ERROR;
  return reinterpret_cast<InflateFn>(procTable[kInflate])(stream, flush);
}

int ZlibInflateEnd(ZStream* stream) {
  LoadZlib();
  if (!Bound()) return Z_STREAM_ERROR;
  return reinterpret_cast<InflateEndFn>(procTable[kInflateEnd])(stream);
}

void FreeZlib() {
  if (zlibModule == nullptr) return;
  FreeLibrary(zlibModule);
  zlibModule = nullptr;
}

void ResetZlibForTesting() {
  FreeZlib();
  zlibAttempted = 0;
  zlibLibraryPath[0] = 0;
  for (FARPROC& proc : procTable) proc = nullptr;
}
