#include "compression/inflate_file.h"

#include <cstdlib>

#include "compression/zlib_binding.h"
#include "support/errors.h"

namespace {

void ReportInflateError() {
  ReportErrorCodeA("%s %d", "Error in unzip inflate", 101);
}

}  // namespace

int unzipFrom(HANDLE file, const uint8_t* source, int32_t sourceLength) {
  ZStream stream = {};
  if (ZlibInflateInit(&stream, "1.2.3", sizeof stream) != Z_OK) {
    // A stream that never initialised takes no input: stop here rather than
    // loop, after the one report.
    ReportErrorCodeA("%s %d", "Error in unzip init", 101);
    ZlibInflateEnd(&stream);
    RaiseCException(-1);
  }
  unsigned char* buffer =
      static_cast<unsigned char*>(std::malloc(kInflateBufferSize));
  int total = 0;
  try {
    Require(source, "unzipFrom");
    Require(buffer, "unzipFrom");
    stream.next_in = source;
    stream.avail_in = static_cast<unsigned>(sourceLength);
    do {
      stream.next_out = buffer;
      stream.avail_out = kInflateBufferSize;
      unsigned inputBefore = stream.avail_in;
      int result = ZlibInflate(&stream, Z_NO_FLUSH);
      bool reported = result == Z_NEED_DICT || result == Z_DATA_ERROR ||
                      result == Z_MEM_ERROR;
      if (reported) ReportInflateError();
      DWORD produced = kInflateBufferSize - stream.avail_out;
      if (produced > 0) {
        DWORD written = 0;
        if (!WriteFile(file, buffer, produced, &written, nullptr)) {
          FailA("Read writing zip to dest");
        }
      }
      total += static_cast<int>(produced);
      // With input left, zlib answers an error again without taking any, and
      // leaves bytes after the stream's end untouched: the entry cannot be
      // finished, and looping on would never end.
      bool trailing = result == Z_STREAM_END && stream.avail_in != 0;
      bool stalled = stream.avail_in != 0 && stream.avail_in == inputBefore &&
                     produced == 0;
      if (trailing || stalled || (reported && stream.avail_in != 0)) {
        if (!reported) ReportInflateError();
        RaiseCException(-1);
      }
    } while (stream.avail_in != 0);
  } catch (CException*) {
    std::free(buffer);
    ZlibInflateEnd(&stream);
    throw;
  }
  std::free(buffer);
  ZlibInflateEnd(&stream);
  return total;
}
