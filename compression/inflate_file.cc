#include "compression/inflate_file.h"

#include <cstdlib>
#include <cstring>

#include "compression/zlib_binding.h"
#include "support/errors.h"
#include "support/file_util.h"

namespace {

// One buffer for every stream, since one is inflated at a time: a fresh one
// per entry would cost each entry the allocation and the first touch of its
// pages.
unsigned char inflateBuffer[kInflateBufferSize];

void ReportInflateError() {
  ReportErrorCodeA("%s %d", "Error in unzip inflate", 101);
}

// Where the inflated bytes go: written to the file, or, with a buffer for
// what the file holds, compared with it.
struct Sink {
  HANDLE file;
  unsigned char* compare;
};

bool ReadExactly(HANDLE file, unsigned char* buffer, DWORD count) {
  DWORD got = 0;
  while (got < count) {
    DWORD read = 0;
    if (!ReadFile(file, buffer + got, count - got, &read, nullptr) || read == 0) {
      return false;
    }
    got += read;
  }
  return true;
}

// False when a compared file does not hold these bytes next; a failed write
// raises.
bool Take(const Sink& sink, const unsigned char* bytes, DWORD count) {
  if (sink.compare == nullptr) {
    // A full disk can take fewer bytes than asked and still call it success.
    if (!WriteAll(sink.file, bytes, count)) FailA("Read writing zip to dest");
    return true;
  }
  return ReadExactly(sink.file, sink.compare, count) &&
         std::memcmp(sink.compare, bytes, count) == 0;
}

// Inflates the one stream into the sink; true when it ended with every stored
// byte taken and the sink took everything. Writing, a stream that does not
// decode to its end is reported and raises; comparing, it is a difference.
bool Inflate(const uint8_t* source, int32_t sourceLength, const Sink& sink,
             int* total) {
  bool quiet = sink.compare != nullptr;
  ZStream stream = {};
  if (ZlibInflateInit(&stream, "1.2.3", sizeof stream) != Z_OK) {
    // A stream that never initialised takes no input: stop here rather than
    // loop, after the one report.
    if (!quiet) ReportErrorCodeA("%s %d", "Error in unzip init", 101);
    ZlibInflateEnd(&stream);
    if (quiet) return false;
    RaiseCException(-1);
  }
  unsigned char* buffer = inflateBuffer;
  bool whole = false;
  try {
    Require(source, "unzipFrom");
    stream.next_in = source;
    stream.avail_in = static_cast<unsigned>(sourceLength);
    for (;;) {
      stream.next_out = buffer;
      stream.avail_out = kInflateBufferSize;
      unsigned inputBefore = stream.avail_in;
      int result = ZlibInflate(&stream, Z_NO_FLUSH);
      bool reported = result == Z_NEED_DICT || result == Z_DATA_ERROR ||
                      result == Z_MEM_ERROR;
      if (reported && !quiet) ReportInflateError();
      DWORD produced = kInflateBufferSize - stream.avail_out;
      if (produced > 0 && !Take(sink, buffer, produced)) break;
      *total += static_cast<int>(produced);
      bool ended = result == Z_STREAM_END;
      // The stream's end with every stored byte taken: the whole file, its
      // Adler-32 checked. No stored bytes at all give an empty file.
      if (stream.avail_in == 0 && (ended || sourceLength == 0)) {
        whole = true;
        break;
      }
      bool progress = stream.avail_in != inputBefore || produced > 0;
      if (!reported && !ended && stream.avail_in != 0 && progress) continue;
      if (quiet) break;
      // The file on disk is not what was packed: a wrong check value, a
      // stream cut short, bytes after its end, or an error zlib repeats
      // without taking input. The setup program must not run from it.
      if (!reported) ReportInflateError();
      RaiseCException(-1);
    }
  } catch (CException*) {
    ZlibInflateEnd(&stream);
    throw;
  }
  ZlibInflateEnd(&stream);
  return whole;
}

}  // namespace

int unzipFrom(HANDLE file, const uint8_t* source, int32_t sourceLength) {
  int total = 0;
  Inflate(source, sourceLength, Sink{file, nullptr}, &total);
  return total;
}

bool InflatedMatches(HANDLE file, const uint8_t* source, int32_t sourceLength) {
  unsigned char* held =
      static_cast<unsigned char*>(std::malloc(kInflateBufferSize));
  if (held == nullptr) return false;
  int total = 0;
  unsigned char extra;
  bool same = SetFilePointer(file, 0, nullptr, FILE_BEGIN) == 0 &&
              Inflate(source, sourceLength, Sink{file, held}, &total) &&
              !ReadExactly(file, &extra, 1);  // and nothing after it
  std::free(held);
  return same;
}
