// The run-time binding to the zlib library that the payload carries. The
// extractor is not linked against zlib: the library is unpacked first, then
// loaded by its full path at the first decompression and bound by name.
#pragma once

#include <windows.h>

// The z_stream record of the zlib API (1.2.x), as the library expects it.
struct ZStream {
  const unsigned char* next_in;
  unsigned avail_in;
  unsigned long total_in;
  unsigned char* next_out;
  unsigned avail_out;
  unsigned long total_out;
  const char* msg;
  void* state;
  void* zalloc;
  void* zfree;
  void* opaque;
  int data_type;
  unsigned long adler;
  unsigned long reserved;
};

const int Z_OK = 0;
const int Z_STREAM_END = 1;
const int Z_NEED_DICT = 2;
const int Z_STREAM_ERROR = -2;
const int Z_DATA_ERROR = -3;
const int Z_MEM_ERROR = -4;
const int Z_BUF_ERROR = -5;
const int Z_NO_FLUSH = 0;

// Where the unpacked library lies; written by the extraction for the raw
// entry, read at the load.
extern wchar_t zlibLibraryPath[MAX_PATH];
extern HMODULE zlibModule;
extern int zlibAttempted;

// Makes sure the one load attempt of the run has been made.
void LoadZlib();

// Call-throughs. Without a bound library they return Z_STREAM_ERROR and call
// nothing.
int ZlibInflateInit(ZStream* stream, const char* version, int streamSize);
int ZlibInflate(ZStream* stream, int flush);
int ZlibInflateEnd(ZStream* stream);

// Releases the library so that its file can be deleted.
void FreeZlib();

// Test hook: releases a loaded library and forgets the attempt.
void ResetZlibForTesting();
