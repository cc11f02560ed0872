#include "compression/inflate_file.h"

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

// Inflates the one stream into the file; a stream that does not decode to
// its end is reported and raises, and so does a failed write.
void Inflate(const uint8_t* source, int32_t sourceLength, HANDLE file,
             int* total) {
  ZStream stream = {};
  if (ZlibInflateInit(&stream, "1.2.3", sizeof stream) != Z_OK) {
    // A stream that never initialised takes no input: stop here rather than
    // loop, after the one report.
    ReportErrorCodeA("%s %d", "Error in unzip init", 101);
    ZlibInflateEnd(&stream);
    RaiseCException(-1);
  }
  unsigned char* buffer = inflateBuffer;
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
      if (reported) ReportInflateError();
      DWORD produced = kInflateBufferSize - stream.avail_out;
      // A full disk can take fewer bytes than asked and still call it success.
      if (produced > 0 && !WriteAll(file, buffer, produced)) {
        FailA("Read writing zip to dest");
      }
      *total += static_cast<int>(produced);
      bool ended = result == Z_STREAM_END;
      // The stream's end with every stored byte taken: the whole file, its
      // Adler-32 checked. No stored bytes at all give an empty file.
      if (stream.avail_in == 0 && (ended || sourceLength == 0)) break;
      bool progress = stream.avail_in != inputBefore || produced > 0;
      if (!reported && !ended && stream.avail_in != 0 && progress) continue;
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
}

}  // namespace

int unzipFrom(HANDLE file, const uint8_t* source, int32_t sourceLength) {
  int total = 0;
  Inflate(source, sourceLength, file, &total);
  return total;
}
