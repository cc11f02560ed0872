// Small hand-made PE images for the PE readers' tests: an exe whose one
// .rsrc section holds RCDATA 100 (language 2057) with its data right after
// the directory, and on request named entries and a certificate table at the
// end; and a DLL with an export table. The offsets of the fields that the
// tests damage are kept.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "tools/archive_writer.h"
#include "tools/library_check.h"

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

// A DLL such as the payload's zlib1.dll, 1,536 bytes: a code section of
// filler bytes and
// an export section naming each of names (sorted bytewise, as linkers write
// them, unless unsorted), each leading to a function in the code. Padded
// with bytes after the sections to fileSize, when that is larger, and
// carrying its PE checksum unless told not to.
struct DllImage {
  Bytes bytes;
  size_t code = 0x200;     // the code section's bytes in the file
  size_t exports = 0x400;  // the export directory in the file
  size_t checksum = 0;     // the CheckSum field
  size_t exportEntry = 0;  // data directory 0

  // A checksum that fits the bytes again, after a test changed them.
  void Reseal() { PutU32(&bytes, checksum, PeChecksum(bytes.data(), bytes.size(), checksum)); }
};

struct DllShape {
  std::vector<std::string> names;
  uint16_t machine = 0x14C;
  size_t fileSize = 0;
  bool unsorted = false;
  bool withChecksum = true;
};

inline DllImage MakeDllImage(const DllShape& shape) {
  const bool pe64 = shape.machine == 0x8664;
  const size_t optional = 0x58, optionalSize = pe64 ? 240 : 224;
  const size_t directories = optional + (pe64 ? 112 : 96);
  const size_t sections = optional + optionalSize;
  const size_t codeSize = 0x200, exportsSize = 0x200, exportsAt = 0x200 + codeSize;
  std::vector<std::string> names = shape.names;
  std::sort(names.begin(), names.end());
  if (shape.unsorted) std::reverse(names.begin(), names.end());
  const uint32_t n = static_cast<uint32_t>(names.size());
  // The export section: directory, functions, name pointers, ordinals, names.
  const uint32_t base = 0x2000, functions = base + 40, pointers = functions + 4 * n,
                 ordinals = pointers + 4 * n;
  uint32_t strings = ordinals + 2 * n;
  DllImage dll;
  dll.checksum = optional + 64;
  dll.exportEntry = directories;
  Bytes& b = dll.bytes;
  b.assign(exportsAt + exportsSize, 0);
  for (size_t i = 0; i < codeSize; ++i) b[dll.code + i] = static_cast<uint8_t>(0x90 + i % 7);
  b[0] = 'M';
  b[1] = 'Z';
  PutU32(&b, 0x3C, 0x40);
  b[0x40] = 'P';
  b[0x41] = 'E';
  PutU16(&b, 0x44, shape.machine);
  PutU16(&b, 0x46, 2);
  PutU16(&b, 0x54, static_cast<uint16_t>(optionalSize));
  PutU16(&b, 0x56, pe64 ? 0x2022 : 0x2102);  // DLL, executable; 32-bit or large-address
  PutU16(&b, optional, pe64 ? 0x20B : 0x10B);
  PutU32(&b, directories - 4, 16);
  PutU32(&b, directories, base);
  PutU32(&b, directories + 4, static_cast<uint32_t>(exportsSize));
  const struct {
    const char* name;
    uint32_t rva, size, raw;
  } table[] = {{".text", 0x1000, static_cast<uint32_t>(codeSize), 0x200},
               {".edata", base, static_cast<uint32_t>(exportsSize),
                static_cast<uint32_t>(exportsAt)}};
  for (size_t i = 0; i < 2; ++i) {
    const size_t at = sections + 40 * i;
    std::copy(table[i].name, table[i].name + 6, b.begin() + at);
    PutU32(&b, at + 8, table[i].size);
    PutU32(&b, at + 12, table[i].rva);
    PutU32(&b, at + 16, table[i].size);
    PutU32(&b, at + 20, table[i].raw);
  }
  auto file = [&](uint32_t rva) { return exportsAt + (rva - base); };
  PutU32(&b, file(base) + 20, n);
  PutU32(&b, file(base) + 24, n);
  PutU32(&b, file(base) + 28, functions);
  PutU32(&b, file(base) + 32, pointers);
  PutU32(&b, file(base) + 36, ordinals);
  for (uint32_t i = 0; i < n; ++i) {
    PutU32(&b, file(functions) + 4 * i, 0x1000 + 16 * i);
    PutU32(&b, file(pointers) + 4 * i, strings);
    PutU16(&b, file(ordinals) + 2 * i, static_cast<uint16_t>(i));
    std::copy(names[i].begin(), names[i].end(), b.begin() + file(strings));
    strings += static_cast<uint32_t>(names[i].size()) + 1;
  }
  if (shape.fileSize > b.size()) b.resize(shape.fileSize, 0x5A);
  if (shape.withChecksum) dll.Reseal();
  return dll;
}

// Every export the binding looks up.
inline std::vector<std::string> TestLibraryExports() {
  std::vector<std::string> names = RequiredZlibExports();
  names.push_back("gzwrite");
  return names;
}

// A zlib1.dll the packer accepts.
inline Bytes TestLibrary(size_t fileSize = 0) {
  DllShape shape;
  shape.names = TestLibraryExports();
  shape.fileSize = fileSize;
  return MakeDllImage(shape).bytes;
}
