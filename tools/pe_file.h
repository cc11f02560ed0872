// Reads a PE file's headers and maps RVAs to file offsets, for the payload
// resource finder and the check of the payload's zlib1.dll. Plain C++ over
// bytes, no platform headers, so it also fuzzes.
//
// The file is trusted no more than a payload archive is: every offset and
// size read from it is checked against the file's length before use, with
// 64-bit arithmetic that no field value can wrap.
#pragma once

#include <cstddef>
#include <cstdint>

// Little-endian reads that refuse, rather than clamp, anything outside the
// bytes given. Offsets are 64-bit, so a sum of two 32-bit fields cannot wrap.
class View {
 public:
  View(const uint8_t* data, uint64_t size) : data_(data), size_(size) {}
  const uint8_t* data() const { return data_; }
  uint64_t size() const { return size_; }
  bool Has(uint64_t offset, uint64_t length) const {
    return offset <= size_ && length <= size_ - offset;
  }
  bool U16(uint64_t offset, uint16_t* out) const;
  bool U32(uint64_t offset, uint32_t* out) const;
  // The bytes from offset on, as a view of their own.
  View From(uint64_t offset, uint64_t length) const { return View(data_ + offset, length); }

 private:
  const uint8_t* data_;
  uint64_t size_;
};

struct Directory {
  uint32_t address = 0;  // an RVA; a file offset for the certificate table
  uint32_t size = 0;
};

// The data directories read here.
const uint32_t kExportDirectory = 0;
const uint32_t kResourceDirectory = 2;
const uint32_t kCertificateDirectory = 4;

class PeFile {
 public:
  explicit PeFile(View file) : file_(file) {}

  // False when the headers or the section table do not hold together.
  bool ReadHeaders();
  Directory directory(uint32_t index) const;
  uint16_t machine() const { return machine_; }
  uint16_t characteristics() const { return characteristics_; }
  bool pe32Plus() const { return pe32Plus_; }
  // The file offset of the optional header's CheckSum field (4 bytes).
  uint64_t checksumAt() const { return optional_ + 64; }

  enum class Mapping { kInFile, kNoSection, kPastEnd };
  // The file offset of length bytes at rva, which one section must hold.
  Mapping Map(uint32_t rva, uint64_t length, uint64_t* offset) const;
  // The bytes from rva to the end of its section's file bytes, or to the end
  // of the file when that comes first; false when no section holds rva.
  bool MapRest(uint32_t rva, View* rest) const;

 private:
  struct Section {
    uint32_t address = 0;  // RVA
    uint32_t span = 0;     // bytes from address on that the section covers
    uint32_t rawOffset = 0;
    uint32_t rawSize = 0;  // bytes in the file
  };
  bool FindSection(uint32_t rva, Section* found) const;

  View file_;
  uint16_t machine_ = 0;
  uint16_t characteristics_ = 0;
  bool pe32Plus_ = false;
  uint64_t optional_ = 0;
  uint64_t directories_ = 0;
  uint32_t directoryCount_ = 0;
  uint64_t sections_ = 0;
  uint16_t sectionCount_ = 0;
};

// True when the file starts like a PE file: "MZ", and a "PE\0\0" signature
// inside the file where the DOS header points. An archive whose first size
// happens to begin with the bytes 'M', 'Z' fails the second half.
bool HasPeSignature(const uint8_t* file, size_t size);
