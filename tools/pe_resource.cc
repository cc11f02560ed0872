#include "tools/pe_resource.h"

#include <algorithm>

namespace {

const uint32_t kRcDataType = 10;
const uint32_t kPayloadId = 100;
// In a resource directory entry: the name is a string, or the entry leads to
// another directory rather than to a data entry.
const uint32_t kHighBit = 0x80000000u;
const uint16_t kPkcsSignedData = 0x0002;  // WIN_CERT_TYPE_PKCS_SIGNED_DATA
const uint64_t kDirectoryHeaderSize = 16;
const uint64_t kDirectoryEntrySize = 8;
const uint64_t kDataEntrySize = 16;

// One level of the resource directory: the value of the first entry with the
// given integer id (with any id when anyId). Named entries never match an id.
// kDamaged when the directory or its entries are not all inside the area.
enum class Lookup { kFound, kMissing, kDamaged };
Lookup FindEntry(const View& area, uint64_t directory, uint32_t id, bool anyId,
                 uint32_t* value) {
  uint16_t named = 0, ids = 0;
  if (!area.U16(directory + 12, &named) || !area.U16(directory + 14, &ids)) {
    return Lookup::kDamaged;
  }
  const uint64_t entries = directory + kDirectoryHeaderSize;
  // At most 131,070 entries of 8 bytes, all of which must be in the area.
  if (!area.Has(entries, (uint64_t{named} + ids) * kDirectoryEntrySize)) return Lookup::kDamaged;
  for (uint64_t i = named; i < uint64_t{named} + ids; ++i) {
    uint32_t name = 0;
    area.U32(entries + i * kDirectoryEntrySize, &name);
    if ((name & kHighBit) != 0 || (!anyId && name != id)) continue;
    area.U32(entries + i * kDirectoryEntrySize + 4, value);
    return Lookup::kFound;
  }
  return Lookup::kMissing;
}

// Type, then name, then language: a fixed three steps, so a directory that
// points back at itself or at its parent cannot make the walk loop.
PeProblem WalkToPayload(const View& area, uint32_t* dataEntry) {
  const uint32_t steps[] = {kRcDataType, kPayloadId, 0};
  uint64_t directory = 0;
  for (int level = 0; level < 3; ++level) {
    uint32_t value = 0;
    switch (FindEntry(area, directory, steps[level], level == 2, &value)) {
      case Lookup::kDamaged: return PeProblem::kBadResources;
      case Lookup::kMissing: return PeProblem::kNoPayload;
      case Lookup::kFound: break;
    }
    // The first two steps lead to directories, the last to the data entry.
    if (((value & kHighBit) != 0) != (level < 2)) return PeProblem::kBadResources;
    directory = value & ~kHighBit;
    *dataEntry = value;
  }
  return PeProblem::kNone;
}

SignatureState ReadSignature(const View& file, const Directory& table) {
  if (table.address == 0 && table.size == 0) return SignatureState::kNone;
  uint32_t length = 0;
  uint16_t type = 0;
  if (table.size < 8 || !file.Has(table.address, table.size) ||
      !file.U32(table.address, &length) || !file.U16(uint64_t{table.address} + 6, &type)) {
    return SignatureState::kDamaged;
  }
  bool holdsSignature = type == kPkcsSignedData && length >= 8 && length <= table.size;
  return holdsSignature ? SignatureState::kPresent : SignatureState::kDamaged;
}

}  // namespace

const char* DescribePeProblem(PeProblem problem) {
  switch (problem) {
    case PeProblem::kNone: return "no problem";
    case PeProblem::kNotPe: return "not a PE file";
    case PeProblem::kBadHeaders: return "the PE file's headers are damaged";
    case PeProblem::kNoResources: return "the PE file has no resources";
    case PeProblem::kBadResources: return "the PE file's resource directory is damaged";
    case PeProblem::kNoPayload: return "the PE file has no payload resource (RCDATA 100)";
    case PeProblem::kPayloadPastEnd:
      return "the payload resource (RCDATA 100) runs past the end of the file";
  }
  return "an unknown problem";
}

const char* DescribeSignatureState(SignatureState state) {
  switch (state) {
    case SignatureState::kNone: return "none";
    case SignatureState::kPresent: return "present";
    case SignatureState::kDamaged: return "damaged (the certificate table does not hold together)";
  }
  return "unknown";
}

PeResource FindPayloadResource(const uint8_t* file, size_t size) {
  PeResource found;
  if (!HasPeSignature(file, size)) {
    found.problem = PeProblem::kNotPe;
    return found;
  }
  View view(file, size);
  PeFile pe(view);
  if (!pe.ReadHeaders()) {
    found.problem = PeProblem::kBadHeaders;
    return found;
  }
  found.machine = pe.machine();
  found.signature = ReadSignature(view, pe.directory(kCertificateDirectory));

  const Directory resources = pe.directory(kResourceDirectory);
  if (resources.address == 0 || resources.size == 0) {
    found.problem = PeProblem::kNoResources;
    return found;
  }
  View rest(nullptr, 0);
  if (!pe.MapRest(resources.address, &rest)) {
    found.problem = PeProblem::kBadResources;
    return found;
  }
  // Offsets inside the resource directory are relative to its start.
  const View area = rest.From(0, std::min<uint64_t>(rest.size(), resources.size));
  uint32_t dataEntry = 0;
  found.problem = WalkToPayload(area, &dataEntry);
  if (found.problem != PeProblem::kNone) return found;

  uint32_t dataRva = 0, dataSize = 0;
  if (!area.Has(dataEntry, kDataEntrySize) || !area.U32(dataEntry, &dataRva) ||
      !area.U32(uint64_t{dataEntry} + 4, &dataSize)) {
    found.problem = PeProblem::kBadResources;
    return found;
  }
  switch (pe.Map(dataRva, dataSize, &found.offset)) {
    case PeFile::Mapping::kInFile: found.size = dataSize; break;
    case PeFile::Mapping::kNoSection: found.problem = PeProblem::kBadResources; break;
    case PeFile::Mapping::kPastEnd: found.problem = PeProblem::kPayloadPastEnd; break;
  }
  if (found.problem != PeProblem::kNone) found.offset = 0;
  return found;
}
