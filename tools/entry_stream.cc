#include "tools/entry_stream.h"

#include <algorithm>
#include <cstring>
#include <fstream>
#include <memory>

#include <libdeflate.h>
#include <zlib.h>

#include "tools/archive_check.h"
#include "tools/name_text.h"
#include "tools/pack_error.h"
#include "tools/payload_file.h"

namespace {

struct FreeCompressor {
  void operator()(libdeflate_compressor* compressor) const {
    libdeflate_free_compressor(compressor);
  }
};

// One compressor a thread, kept between entries: at level 12 it is large
// enough that making one per entry would show on a folder of small files.
libdeflate_compressor* CompressorFor(int level) {
  thread_local std::unique_ptr<libdeflate_compressor, FreeCompressor> compressor;
  thread_local int madeFor = -1;
  if (!compressor || madeFor != level) {
    compressor.reset(libdeflate_alloc_compressor(level));
    madeFor = level;
    if (!compressor) throw PackError("libdeflate cannot make a compressor of level " +
                                     std::to_string(level));
  }
  return compressor.get();
}

const size_t kPiece = size_t{1} << 20;

}  // namespace

Bytes MakeStream(const uint8_t* data, size_t size, int level) {
  // libdeflate ends even an empty input with a stored block, 11 bytes in
  // all; zlib's stream of nothing is 8.
  if (level <= kMaxZlibLevel || size == 0) return DeflateZlib(data, size, std::min(level, 9));
  libdeflate_compressor* compressor = CompressorFor(level);
  Bytes stream(libdeflate_zlib_compress_bound(compressor, size));
  size_t made = libdeflate_zlib_compress(compressor, data, size, stream.data(), stream.size());
  // The bound always suffices, so 0 cannot happen short of a broken library.
  if (made == 0) throw PackError("libdeflate made no stream");
  stream.resize(made);
  return stream;
}

Bytes ReadEntryFile(const std::filesystem::path& path, const std::string& name) {
  Bytes content;
  switch (ReadAllBytes(path, &content)) {
    case ReadResult::kCannotOpen: throw PackError(Quoted(name) + ": cannot be opened");
    case ReadResult::kCannotRead: throw PackError(Quoted(name) + ": cannot be read");
    case ReadResult::kRead: break;
  }
  return content;
}

Bytes EntryStream(const std::filesystem::path& path, const std::string& name, uint64_t size,
                  int level) {
  if (size > kWholeEntryLimit) return StreamFile(path, name, std::min(level, kMaxZlibLevel));
  const Bytes content = ReadEntryFile(path, name);
  Bytes stream = MakeStream(content.data(), content.size(), level);
  CheckStream(stream, content.data(), content.size(), name);
  return stream;
}

Bytes StreamFile(const std::filesystem::path& path, const std::string& name, int level) {
  std::ifstream in(path, std::ios::binary);
  if (!in) throw PackError(Quoted(name) + ": cannot be opened");
  z_stream stream = {};
  if (deflateInit(&stream, level) != Z_OK) throw PackError("deflateInit failed");
  std::unique_ptr<z_stream, int (*)(z_stream*)> ending(&stream, deflateEnd);
  Bytes piece(kPiece), out(kPiece), result;
  uint64_t read = 0;
  int status = Z_OK;
  while (status != Z_STREAM_END) {
    in.read(reinterpret_cast<char*>(piece.data()), static_cast<std::streamsize>(piece.size()));
    if (in.bad()) throw PackError(Quoted(name) + ": cannot be read");
    const int flush = in.eof() ? Z_FINISH : Z_NO_FLUSH;
    stream.next_in = piece.data();
    stream.avail_in = static_cast<uInt>(in.gcount());
    read += stream.avail_in;
    do {
      stream.next_out = out.data();
      stream.avail_out = static_cast<uInt>(out.size());
      status = deflate(&stream, flush);
      if (status == Z_STREAM_ERROR) throw PackError("deflate failed");
      result.insert(result.end(), out.data(), out.data() + (out.size() - stream.avail_out));
    } while (stream.avail_out == 0 && status != Z_STREAM_END);
  }
  CheckStream(result, nullptr, read, name);
  return result;
}

void CheckStream(const Bytes& stream, const uint8_t* data, size_t size, const std::string& name) {
  size_t at = 0;
  bool same = true;
  std::string problem;
  const int64_t inflated = Inflate(stream.data(), stream.size(), &problem,
                                   [&](const uint8_t* piece, size_t length) {
                                     same = length <= size - at &&
                                            (!data || std::memcmp(piece, data + at, length) == 0);
                                     at += length;
                                     return same;
                                   });
  if (inflated >= 0 && static_cast<size_t>(inflated) == size) return;
  if (!same || inflated >= 0) problem = "it inflates to other bytes";
  throw PackError(Quoted(name) + ": the stream made of it does not inflate back: " + problem);
}
