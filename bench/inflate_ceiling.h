// The ceiling for the extraction's speed: the same zlib streams inflated in
// memory, with the same library and the same 100,000-byte output buffer, and
// the output thrown away. No file, no log, no directory.
#pragma once

#include <windows.h>

#include <cstdint>
#include <vector>

#include "compression/zlib_binding.h"

struct PayloadEntries {
  int count = 0;  // every entry, the raw one included
  const uint8_t* raw = nullptr;
  uint32_t rawSize = 0;
  struct Stream {
    const uint8_t* data;
    uint32_t size;
  };
  std::vector<Stream> compressed;
};

// Walks the entry area [archive, archive + length). False when the archive
// does not hold together or has no "zlib1.dll".
bool ListPayloadEntries(const uint8_t* archive, int32_t length,
                        PayloadEntries* out);

// zlib1.dll loaded and bound by name, as the extractor binds it.
class ZlibLibrary {
 public:
  bool Load(const wchar_t* path);
  ~ZlibLibrary();

  int (__cdecl* inflateInit)(ZStream*, const char*, int) = nullptr;
  int (__cdecl* inflate)(ZStream*, int) = nullptr;
  int (__cdecl* inflateEnd)(ZStream*) = nullptr;

 private:
  HMODULE module_ = nullptr;
};

// Inflates every compressed stream; returns the bytes produced, or -1 when a
// stream does not decode to its end.
int64_t InflateAll(const ZlibLibrary& zlib, const PayloadEntries& entries,
                   unsigned char* buffer, DWORD bufferSize);
