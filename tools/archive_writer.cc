#include "tools/archive_writer.h"

#include <stdexcept>

#include <zlib.h>

#include "payload/archive.h"

Bytes DeflateZlib(const uint8_t* data, size_t size, int level) {
  // One deflate call over the whole input with Z_FINISH, like compress2, so
  // the stream is the same whichever zlib build made it.
  z_stream stream = {};
  if (deflateInit(&stream, level) != Z_OK) {
    throw std::runtime_error("deflateInit failed");
  }
  Bytes out(deflateBound(&stream, static_cast<uLong>(size)));
  stream.next_in = const_cast<Bytef*>(data);
  stream.avail_in = static_cast<uInt>(size);
  stream.next_out = out.data();
  stream.avail_out = static_cast<uInt>(out.size());
  int result = deflate(&stream, Z_FINISH);
  out.resize(stream.total_out);
  deflateEnd(&stream);
  if (result != Z_STREAM_END) throw std::runtime_error("deflate failed");
  return out;
}

void ArchiveWriter::AddFile(const std::string& name, const Bytes& content) {
  bool raw = IsRawEntryName(reinterpret_cast<const uint8_t*>(name.data()),
                            static_cast<uint32_t>(name.size()));
  Bytes data = raw ? content : DeflateLevel9(content);
  AppendEntry(static_cast<uint32_t>(data.size()), name, data);
}

void ArchiveWriter::AppendEntry(uint32_t fileSize, const std::string& name,
                                const Bytes& data) {
  AppendU32(fileSize);
  AppendU32(static_cast<uint32_t>(name.size()));
  AppendBytes(name);
  AppendBytes(data);
}

void ArchiveWriter::AppendU32(uint32_t value) {
  for (int shift = 0; shift < 32; shift += 8) {
    bytes_.push_back(static_cast<uint8_t>(value >> shift));
  }
}

void ArchiveWriter::AppendBytes(const Bytes& bytes) {
  bytes_.insert(bytes_.end(), bytes.begin(), bytes.end());
}

void ArchiveWriter::AppendBytes(const std::string& bytes) {
  bytes_.insert(bytes_.end(), bytes.begin(), bytes.end());
}

Bytes BuildArchive(const std::vector<NamedFile>& files) {
  ArchiveWriter writer;
  for (const NamedFile& file : files) writer.AddFile(file.name, file.content);
  writer.AppendTrailer();
  return writer.Take();
}
