// Small hand-made PE images for the PE reader's tests: the headers, one
// .rsrc section holding RCDATA 100 (language 2057) with its data right after
// the directory, and on request a certificate table at the end. The offsets
// of the fields that the tests damage are kept.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>

#include "tools/archive_writer.h"

inline void PutU16(Bytes* bytes, size_t at, uint16_t value) {
  (*bytes)[at] = static_cast<uint8_t>(value);
  (*bytes)[at + 1] = static_cast<uint8_t>(value >> 8);
}

inline void PutU32(Bytes* bytes, size_t at, uint32_t value) {
  for (int i = 0; i < 4; ++i) (*bytes)[at + i] = static_cast<uint8_t>(value >> (8 * i));
}

struct PeImage {
  Bytes bytes;
  size_t coff = 0x44;  // the COFF header, after "PE\0\0" at 0x40
  size_t optional = 0x58;
  size_t directories = 0;  // data directory 0; each is 8 bytes
  size_t section = 0;      // the section header
  // In the file: the resource directory's root (its type level), the name
  // and language levels, their single entries, and the data entry.
  size_t root = 0x200, typeEntry = 0x210, nameLevel = 0x218, nameEntry = 0x228,
         languageLevel = 0x230, languageEntry = 0x240, dataEntry = 0x248;
  size_t payload = 0x258;

  size_t directory(int index) const { return directories + 8 * index; }

  // A certificate table after everything else, as signing tools put it: one
  // WIN_CERTIFICATE of the given type around the given bytes.
  void AppendCertificateTable(uint16_t type, size_t contentSize) {
    while (bytes.size() % 8 != 0) bytes.push_back(0);
    const size_t at = bytes.size();
    bytes.resize(at + 8 + contentSize, 0x30);
    PutU32(&bytes, at, static_cast<uint32_t>(8 + contentSize));
    PutU16(&bytes, at + 4, 0x0200);
    PutU16(&bytes, at + 6, type);
    PutU32(&bytes, directory(4), static_cast<uint32_t>(at));
    PutU32(&bytes, directory(4) + 4, static_cast<uint32_t>(8 + contentSize));
  }
};

// One section at RVA 0x1000 and file offset 0x200, rounded to 0x200 bytes.
inline PeImage MakePeImage(const Bytes& payload, bool pe32Plus = false) {
  PeImage image;
  const uint16_t optionalSize = pe32Plus ? 240 : 224;
  image.directories = image.optional + (pe32Plus ? 112 : 96);
  image.section = image.optional + optionalSize;
  const uint32_t resourceSize = static_cast<uint32_t>(0x58 + payload.size());
  const uint32_t rawSize = (resourceSize + 0x1FF) & ~0x1FFu;
  Bytes& b = image.bytes;
  b.assign(0x200 + rawSize, 0);
  b[0] = 'M';
  b[1] = 'Z';
  PutU32(&b, 0x3C, 0x40);
  b[0x40] = 'P';
  b[0x41] = 'E';
  PutU16(&b, image.coff, 0x14C);
  PutU16(&b, image.coff + 2, 1);
  PutU16(&b, image.coff + 16, optionalSize);
  PutU16(&b, image.optional, pe32Plus ? 0x20B : 0x10B);
  PutU32(&b, image.directories - 4, 16);
  PutU32(&b, image.directory(2), 0x1000);
  PutU32(&b, image.directory(2) + 4, resourceSize);
  const char name[] = ".rsrc";
  std::copy(name, name + 5, b.begin() + image.section);
  PutU32(&b, image.section + 8, resourceSize);
  PutU32(&b, image.section + 12, 0x1000);
  PutU32(&b, image.section + 16, rawSize);
  PutU32(&b, image.section + 20, 0x200);
  // Directory offsets are from the section's start, with the high bit set
  // for a subdirectory; the data entry holds an RVA.
  PutU16(&b, image.root + 14, 1);
  PutU32(&b, image.typeEntry, 10);
  PutU32(&b, image.typeEntry + 4, 0x80000018);
  PutU16(&b, image.nameLevel + 14, 1);
  PutU32(&b, image.nameEntry, 100);
  PutU32(&b, image.nameEntry + 4, 0x80000030);
  PutU16(&b, image.languageLevel + 14, 1);
  PutU32(&b, image.languageEntry, 2057);
  PutU32(&b, image.languageEntry + 4, 0x48);
  PutU32(&b, image.dataEntry, 0x1058);
  PutU32(&b, image.dataEntry + 4, static_cast<uint32_t>(payload.size()));
  std::copy(payload.begin(), payload.end(), b.begin() + image.payload);
  return image;
}
