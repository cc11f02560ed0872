// A file given to talvorn-pack list, verify or extract: a bare payload
// archive, or a built extractor exe that carries one as resource RCDATA 100.
//
// A file is read as an exe when it starts with "MZ" and has a PE signature
// where its DOS header points; anything else is read as an archive. An
// archive's first bytes are the size of zlib1.dll, which may begin 'M', 'Z'
// by chance, but the PE signature then still decides.
#pragma once

#include <filesystem>

#include "tools/archive_check.h"
#include "tools/archive_writer.h"
#include "tools/pe_resource.h"

struct PayloadFile {
  Bytes bytes;  // the whole file
  bool isExe = false;
  uint64_t offset = 0;  // of the archive in bytes
  uint64_t size = 0;
  SignatureState signature = SignatureState::kNone;  // of an exe
  uint16_t machine = 0;                              // of an exe
  bool startsMz = false;

  const uint8_t* archive() const { return bytes.data() + offset; }
};

// The whole file's bytes, read in one go where its size is known.
enum class ReadResult { kRead, kCannotOpen, kCannotRead };
ReadResult ReadAllBytes(const std::filesystem::path& path, Bytes* bytes);

// The whole file's bytes; PackError when it cannot be read.
Bytes ReadFileBytes(const std::filesystem::path& path);

// PackError when the file cannot be read, or is an exe without a payload
// that lies wholly inside it.
PayloadFile LoadPayloadFile(const std::filesystem::path& path);

// InspectArchive over the file's archive, and CheckZlibLibrary over its
// zlib1.dll for the exe's machine, or for machine when the file is a bare
// archive. For a file that starts "MZ" but is no PE file, a problem also says
// that it was read as an archive.
ArchiveReport InspectPayloadFile(const PayloadFile& file, uint16_t machine);
