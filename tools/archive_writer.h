// Writes payload archives in memory: entries back to back, then the trailer
// holding the entry area's length. Plain C++ and zlib, no platform headers, so
// the host packer and the Windows unit tests share it. The extractor itself
// never links it (it must not link zlib).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

using Bytes = std::vector<uint8_t>;

// One zlib stream of the content made by zlib at the level (0 to 9) with the
// default window and memory settings, as compress2 makes it.
Bytes DeflateZlib(const uint8_t* data, size_t size, int level);
// At level 9 it always begins 0x78 0xDA.
inline Bytes DeflateLevel9(const uint8_t* data, size_t size) {
  return DeflateZlib(data, size, 9);
}
inline Bytes DeflateLevel9(const Bytes& data) {
  return DeflateLevel9(data.data(), data.size());
}

class ArchiveWriter {
 public:
  // A file as the packer stores it: "zlib1.dll" unchanged, anything else as
  // one zlib stream.
  void AddFile(const std::string& name, const Bytes& content);

  // An entry with whatever header and bytes the caller gives, to build
  // malformed archives on purpose: fileSize need not match data.
  void AppendEntry(uint32_t fileSize, const std::string& name, const Bytes& data);
  void AppendU32(uint32_t value);
  void AppendBytes(const Bytes& bytes);
  void AppendBytes(const std::string& bytes);

  // Closes the archive with the trailer the packer writes.
  void AppendTrailer() { AppendTrailer(static_cast<uint32_t>(bytes_.size())); }
  void AppendTrailer(uint32_t value) { AppendU32(value); }

  void Reserve(size_t size) { bytes_.reserve(size); }
  const Bytes& bytes() const { return bytes_; }
  Bytes Take() { return std::move(bytes_); }

 private:
  Bytes bytes_;
};

struct NamedFile {
  std::string name;  // entry name, backslash-separated
  Bytes content;
};

// The whole archive of the files, in the given order, trailer included.
Bytes BuildArchive(const std::vector<NamedFile>& files);
