#include "tools/payload_file.h"

#include <fstream>
#include <iterator>

#include "tools/pack_error.h"

Bytes ReadFileBytes(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) throw PackError("cannot open " + path.string());
  Bytes bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  if (in.bad()) throw PackError("cannot read " + path.string());
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
  return file;
}

ArchiveReport InspectPayloadFile(const PayloadFile& file) {
  ArchiveReport report = InspectArchive(file.archive(), file.size);
  if (file.startsMz && !file.isExe) {
    const std::string note = "not a PE file (\"MZ\" but no PE header), read as an archive: ";
    if (!report.problem.empty()) report.problem = note + report.problem;
    if (!report.walkProblem.empty()) report.walkProblem = note + report.walkProblem;
  }
  return report;
}
