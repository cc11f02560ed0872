#include "bench/inflate_ceiling.h"

#include "payload/archive.h"

bool ListPayloadEntries(const uint8_t* archive, int32_t length,
                        PayloadEntries* out) {
  ArchiveWalker walker(archive, length);
  ArchiveEntry entry;
  while (walker.Next(&entry)) {
    ++out->count;
    if (IsRawEntryName(entry.name, entry.nameSize)) {
      out->raw = entry.data;
      out->rawSize = entry.fileSize;
    } else {
      out->compressed.push_back({entry.data, entry.fileSize});
    }
  }
  return walker.error() == WalkError::kNone && out->raw != nullptr;
}

bool ZlibLibrary::Load(const wchar_t* path) {
  module_ = LoadLibraryW(path);
  if (module_ == nullptr) return false;
  inflateInit = reinterpret_cast<decltype(inflateInit)>(
      GetProcAddress(module_, "inflateInit_"));
  inflate = reinterpret_cast<decltype(inflate)>(
      GetProcAddress(module_, "inflate"));
  inflateEnd = reinterpret_cast<decltype(inflateEnd)>(
      GetProcAddress(module_, "inflateEnd"));
  return inflateInit && inflate && inflateEnd;
}

ZlibLibrary::~ZlibLibrary() {
  if (module_ != nullptr) FreeLibrary(module_);
}

int64_t InflateAll(const ZlibLibrary& zlib, const PayloadEntries& entries,
                   unsigned char* buffer, DWORD bufferSize) {
  int64_t total = 0;
  for (const PayloadEntries::Stream& stream : entries.compressed) {
    ZStream z = {};
    if (zlib.inflateInit(&z, "1.2.3", sizeof z) != Z_OK) return -1;
    z.next_in = stream.data;
    z.avail_in = stream.size;
    int result;
    // The extractor's loop: refill the same buffer until the input is taken.
    do {
      z.next_out = buffer;
      z.avail_out = bufferSize;
      result = zlib.inflate(&z, Z_NO_FLUSH);
      total += bufferSize - z.avail_out;
    } while (z.avail_in != 0 && result == Z_OK);
    zlib.inflateEnd(&z);
    if (result != Z_STREAM_END && stream.size != 0) return -1;
  }
  return total;
}
