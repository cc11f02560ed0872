#include "tools/payload_file.h"

#include <fstream>

#include "tools/library_check.h"
#include "tools/name_text.h"
#include "tools/pack_error.h"

ReadResult ReadAllBytes(const std::filesystem::path& path, Bytes* bytes) {
  std::ifstream in(path, std::ios::binary | std::ios::ate);
  if (!in) return ReadResult::kCannotOpen;
  const std::streamoff size = in.tellg();
  in.seekg(0);
  // One byte more than the size, so a file that grew meanwhile is read on
  // to its end rather than cut.
  size_t got = 0;
  bytes->resize(size > 0 ? static_cast<size_t>(size) + 1 : 4096);
  while (in) {
    if (got == bytes->size()) bytes->resize(got * 2);
    in.read(reinterpret_cast<char*>(bytes->data() + got),
            static_cast<std::streamsize>(bytes->size() - got));
    got += static_cast<size_t>(in.gcount());
  }
  bytes->resize(got);
  return in.bad() ? ReadResult::kCannotRead : ReadResult::kRead;
}

Bytes ReadFileBytes(const std::filesystem::path& path) {
  Bytes bytes;
  switch (ReadAllBytes(path, &bytes)) {
    case ReadResult::kCannotOpen: throw PackError("cannot open " + path.string());
    case ReadResult::kCannotRead: throw PackError("cannot read " + path.string());
    case ReadResult::kRead: break;
  }
  return bytes;
}

PayloadFile LoadPayloadFile(const std::filesystem::path& path) {
  PayloadFile file;
  file.bytes = ReadFileBytes(path);
  file.startsMz = file.bytes.size() >= 2 && file.bytes[0] == 'M' && file.bytes[1] == 'Z';
  file.size = file.bytes.size();
  if (!HasPeSignature(file.bytes.data(), file.bytes.size())) return file;

  file.isExe = true;
  PeResource found = FindPayloadResource(file.bytes.data(), file.bytes.size());
  if (found.problem != PeProblem::kNone) {
    throw PackError(path.string() + ": " + DescribePeProblem(found.problem));
  }
  file.offset = found.offset;
  file.size = found.size;
  file.signature = found.signature;
  file.machine = found.machine;
  return file;
}

ArchiveReport InspectPayloadFile(const PayloadFile& file, uint16_t machine) {
  ArchiveReport report = InspectArchive(file.archive(), file.size);
  // Only a library the archive walk found whole is worth judging.
  for (size_t i = 0; i < report.entries.size() && report.problem.empty(); ++i) {
    const EntryInfo& entry = report.entries[i];
    if (!entry.raw) continue;
    std::string problem = CheckZlibLibrary(file.archive() + entry.dataOffset, entry.storedSize,
                                           file.isExe ? file.machine : machine);
    if (!problem.empty()) report.problem = EntryLabel(i, entry.name) + ": " + problem;
  }
  if (file.startsMz && !file.isExe) {
    const std::string note = "not a PE file (\"MZ\" but no PE header), read as an archive: ";
    if (!report.problem.empty()) report.problem = note + report.problem;
    if (!report.walkProblem.empty()) report.walkProblem = note + report.walkProblem;
  }
  return report;
}
