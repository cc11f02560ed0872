#include "tools/pe_resource.h"

#include <algorithm>

namespace {

const uint32_t kRcDataType = 10;
const uint32_t kPayloadId = 100;
// In a resource directory entry: the name is a string, or the entry leads to
// another directory rather than to a data entry.
const uint32_t kHighBit = 0x80000000u;
const uint16_t kPe32Magic = 0x10B;
const uint16_t kPe32PlusMagic = 0x20B;
const uint32_t kResourceDirectory = 2;
const uint32_t kCertificateDirectory = 4;
const uint16_t kPkcsSignedData = 0x0002;  // WIN_CERT_TYPE_PKCS_SIGNED_DATA
const uint64_t kSectionHeaderSize = 40;
const uint64_t kDirectoryHeaderSize = 16;
const uint64_t kDirectoryEntrySize = 8;
const uint64_t kDataEntrySize = 16;

// Little-endian reads that refuse, rather than clamp, anything outside the
// bytes given. Offsets are 64-bit, so a sum of two 32-bit fields cannot wrap.
class View {
 public:
  View(const uint8_t* data, uint64_t size) : data_(data), size_(size) {}
  uint64_t size() const { return size_; }
  bool Has(uint64_t offset, uint64_t length) const {
    return offset <= size_ && length <= size_ - offset;
  }
  bool U16(uint64_t offset, uint16_t* out) const {
    if (!Has(offset, 2)) return false;
    *out = static_cast<uint16_t>(data_[offset] | data_[offset + 1] << 8);
    return true;
  }
  bool U32(uint64_t offset, uint32_t* out) const {
    if (!Has(offset, 4)) return false;
    *out = static_cast<uint32_t>(data_[offset]) | static_cast<uint32_t>(data_[offset + 1]) << 8 |
           static_cast<uint32_t>(data_[offset + 2]) << 16 |
           static_cast<uint32_t>(data_[offset + 3]) << 24;
    return true;
  }
  // The bytes from offset on, as a view of their own.
  View From(uint64_t offset, uint64_t length) const {
    return View(data_ + offset, length);
  }

 private:
  const uint8_t* data_;
  uint64_t size_;
};

struct Directory {
  uint32_t address = 0;  // an RVA; a file offset for the certificate table
  uint32_t size = 0;
};

struct Section {
  uint32_t address = 0;  // RVA
  uint32_t span = 0;     // bytes from address on that the section covers
  uint32_t rawOffset = 0;
  uint32_t rawSize = 0;  // bytes in the file
};

class PeFile {
 public:
  explicit PeFile(View file) : file_(file) {}

  PeProblem ReadHeaders();
  Directory directory(uint32_t index) const;

  enum class Mapping { kInFile, kNoSection, kPastEnd };
  // The file offset of length bytes at rva, which one section must hold.
  Mapping Map(uint32_t rva, uint64_t length, uint64_t* offset) const;
  // The bytes from rva to the end of its section's file bytes, or to the end
  // of the file when that comes first; false when no section holds rva.
  bool MapRest(uint32_t rva, View* rest) const;

 private:
  bool FindSection(uint32_t rva, Section* found) const;

  View file_;
  uint64_t directories_ = 0;
  uint32_t directoryCount_ = 0;
  uint64_t sections_ = 0;
  uint16_t sectionCount_ = 0;
};

PeProblem PeFile::ReadHeaders() {
  uint32_t peOffset = 0;
  file_.U32(0x3C, &peOffset);
  const uint64_t coff = uint64_t{peOffset} + 4;
  uint16_t optionalSize = 0, magic = 0;
  if (!file_.U16(coff + 2, &sectionCount_) || !file_.U16(coff + 16, &optionalSize)) {
    return PeProblem::kBadHeaders;
  }
  const uint64_t optional = coff + 20;
  if (!file_.Has(optional, optionalSize) || !file_.U16(optional, &magic)) {
    return PeProblem::kBadHeaders;
  }
  // PE32 and PE32+ differ, for what is read here, only in where the count of
  // data directories stands; the directories follow it.
  uint64_t countAt;
  if (magic == kPe32Magic) {
    countAt = 92;
  } else if (magic == kPe32PlusMagic) {
    countAt = 108;
  } else {
    return PeProblem::kBadHeaders;
  }
  if (countAt + 4 > optionalSize) return PeProblem::kBadHeaders;
  file_.U32(optional + countAt, &directoryCount_);
  directories_ = optional + countAt + 4;
  // Only the directories inside the optional header count.
  directoryCount_ = static_cast<uint32_t>(std::min<uint64_t>(
      directoryCount_, (optionalSize - countAt - 4) / kDirectoryEntrySize));
  sections_ = optional + optionalSize;
  if (!file_.Has(sections_, sectionCount_ * kSectionHeaderSize)) return PeProblem::kBadHeaders;
  return PeProblem::kNone;
}

Directory PeFile::directory(uint32_t index) const {
  Directory found;
  if (index >= directoryCount_) return found;
  file_.U32(directories_ + index * kDirectoryEntrySize, &found.address);
  file_.U32(directories_ + index * kDirectoryEntrySize + 4, &found.size);
  return found;
}

bool PeFile::FindSection(uint32_t rva, Section* found) const {
  for (uint16_t i = 0; i < sectionCount_; ++i) {
    const uint64_t header = sections_ + i * kSectionHeaderSize;
    uint32_t virtualSize = 0;
    file_.U32(header + 8, &virtualSize);
    file_.U32(header + 12, &found->address);
    file_.U32(header + 16, &found->rawSize);
    file_.U32(header + 20, &found->rawOffset);
    // Some linkers leave the virtual size at 0; the file bytes count then.
    found->span = std::max(virtualSize, found->rawSize);
    if (rva >= found->address && rva - found->address < found->span) return true;
  }
  return false;
}

PeFile::Mapping PeFile::Map(uint32_t rva, uint64_t length, uint64_t* offset) const {
  Section section;
  if (!FindSection(rva, &section)) return Mapping::kNoSection;
  const uint64_t delta = rva - section.address;
  *offset = section.rawOffset + delta;
  // Bytes beyond the section's file bytes would be zeros made by the loader,
  // not what the file holds.
  if (delta + length > section.rawSize || !file_.Has(*offset, length)) return Mapping::kPastEnd;
  return Mapping::kInFile;
}

bool PeFile::MapRest(uint32_t rva, View* rest) const {
  Section section;
  if (!FindSection(rva, &section)) return false;
  const uint64_t delta = rva - section.address;
  const uint64_t offset = std::min<uint64_t>(section.rawOffset + delta, file_.size());
  const uint64_t inSection = section.rawSize > delta ? section.rawSize - delta : 0;
  *rest = file_.From(offset, std::min(inSection, file_.size() - offset));
  return true;
}

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

bool HasPeSignature(const uint8_t* file, size_t size) {
  View view(file, size);
  uint32_t peOffset = 0;
  if (size < 0x40 || file[0] != 'M' || file[1] != 'Z' || !view.U32(0x3C, &peOffset) ||
      !view.Has(peOffset, 4)) {
    return false;
  }
  const uint8_t* signature = file + peOffset;
  return signature[0] == 'P' && signature[1] == 'E' && signature[2] == 0 && signature[3] == 0;
}

PeResource FindPayloadResource(const uint8_t* file, size_t size) {
  PeResource found;
  if (!HasPeSignature(file, size)) {
    found.problem = PeProblem::kNotPe;
    return found;
  }
  View view(file, size);
  PeFile pe(view);
  found.problem = pe.ReadHeaders();
  if (found.problem != PeProblem::kNone) return found;
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
