// Small hand-made PE images for the PE reader's tests: the headers, one
// .rsrc section holding RCDATA 100 (language 2057) with its data right after
// the directory, and on request named entries and a certificate table at the
// end. The offsets of the fields that the tests damage are kept.
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
  // and language levels, their id entries, and the data entry.
  size_t root = 0x200, typeEntry = 0, nameLevel = 0, nameEntry = 0, languageLevel = 0,
         languageEntry = 0, dataEntry = 0;
  size_t payload = 0;
  size_t certificate = 0;  // the certificate table, once appended

  size_t directory(int index) const { return directories + 8 * index; }

  // A certificate table after everything else, as signing tools put it: one
  // WIN_CERTIFICATE of the given type around the given bytes.
  void AppendCertificateTable(uint16_t type, size_t contentSize) {
    while (bytes.size() % 8 != 0) bytes.push_back(0);
    certificate = bytes.size();
    bytes.resize(certificate + 8 + contentSize, 0x30);
    PutU32(&bytes, certificate, static_cast<uint32_t>(8 + contentSize));
    PutU16(&bytes, certificate + 4, 0x0200);
    PutU16(&bytes, certificate + 6, type);
    PutU32(&bytes, directory(4), static_cast<uint32_t>(certificate));
    PutU32(&bytes, directory(4) + 4, static_cast<uint32_t>(8 + contentSize));
  }
};

// One section at RVA 0x1000 and file offset 0x200, rounded to 0x200 bytes.
// With namedEntries each directory level has a named entry before its id
// entry, as resource types and names given as strings are stored; each leads
// to a decoy data entry, so a reader that takes one finds no payload or the
// wrong bytes.
inline PeImage MakePeImage(const Bytes& payload, bool pe32Plus = false,
                           bool namedEntries = false) {
  PeImage image;
  const uint16_t optionalSize = pe32Plus ? 240 : 224;
  image.directories = image.optional + (pe32Plus ? 112 : 96);
  image.section = image.optional + optionalSize;
  const size_t level = 16 + (namedEntries ? 16 : 8);
  image.nameLevel = image.root + level;
  image.languageLevel = image.nameLevel + level;
  image.dataEntry = image.languageLevel + level;
  const size_t decoy = image.dataEntry + 16;  // a data entry, then a name string
  image.payload = namedEntries ? decoy + 32 : decoy;
  // Directory offsets are from the section's start, with the high bit set
  // for a subdirectory; data entries hold RVAs.
  auto offset = [&](size_t at) { return static_cast<uint32_t>(at - image.root); };
  auto rva = [&](size_t at) { return 0x1000 + offset(at); };
  const uint32_t resourceSize = offset(image.payload) + static_cast<uint32_t>(payload.size());
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
  const struct {
    size_t level;
    size_t* entry;
    uint32_t id, value;
  } levels[] = {
      {image.root, &image.typeEntry, 10, 0x80000000 | offset(image.nameLevel)},
      {image.nameLevel, &image.nameEntry, 100, 0x80000000 | offset(image.languageLevel)},
      {image.languageLevel, &image.languageEntry, 2057, offset(image.dataEntry)},
  };
  for (const auto& step : levels) {
    size_t at = step.level + 16;
    if (namedEntries) {
      PutU16(&b, step.level + 12, 1);
      PutU32(&b, at, 0x80000000 | offset(decoy + 16));
      PutU32(&b, at + 4, offset(decoy));
      at += 8;
    }
    PutU16(&b, step.level + 14, 1);
    PutU32(&b, at, step.id);
    PutU32(&b, at + 4, step.value);
    *step.entry = at;
  }
  PutU32(&b, image.dataEntry, rva(image.payload));
  PutU32(&b, image.dataEntry + 4, static_cast<uint32_t>(payload.size()));
  if (namedEntries) {
    PutU32(&b, decoy, rva(decoy + 16));
    PutU32(&b, decoy + 4, 10);
    const char16_t decoyName[] = u"NAME";
    PutU16(&b, decoy + 16, 4);
    for (int i = 0; i < 4; ++i) PutU16(&b, decoy + 18 + 2 * i, decoyName[i]);
  }
  std::copy(payload.begin(), payload.end(), b.begin() + image.payload);
  return image;
}
