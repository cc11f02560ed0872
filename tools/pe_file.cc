#include "tools/pe_file.h"

#include <algorithm>

namespace {

const uint16_t kPe32Magic = 0x10B;
const uint16_t kPe32PlusMagic = 0x20B;
const uint64_t kSectionHeaderSize = 40;
const uint64_t kDirectoryEntrySize = 8;

}  // namespace

bool View::U16(uint64_t offset, uint16_t* out) const {
  if (!Has(offset, 2)) return false;
  *out = static_cast<uint16_t>(data_[offset] | data_[offset + 1] << 8);
  return true;
}

bool View::U32(uint64_t offset, uint32_t* out) const {
  if (!Has(offset, 4)) return false;
  *out = static_cast<uint32_t>(data_[offset]) | static_cast<uint32_t>(data_[offset + 1]) << 8 |
         static_cast<uint32_t>(data_[offset + 2]) << 16 |
         static_cast<uint32_t>(data_[offset + 3]) << 24;
  return true;
}

bool PeFile::ReadHeaders() {
  uint32_t peOffset = 0;
  file_.U32(0x3C, &peOffset);
  const uint64_t coff = uint64_t{peOffset} + 4;
  uint16_t optionalSize = 0, magic = 0;
  if (!file_.U16(coff, &machine_) || !file_.U16(coff + 2, &sectionCount_) ||
      !file_.U16(coff + 16, &optionalSize) || !file_.U16(coff + 18, &characteristics_)) {
    return false;
  }
  optional_ = coff + 20;
  if (!file_.Has(optional_, optionalSize) || !file_.U16(optional_, &magic)) return false;
  // PE32 and PE32+ differ, for what is read here, only in where the count of
  // data directories stands; the directories follow it.
  uint64_t countAt;
  if (magic == kPe32Magic) {
    countAt = 92;
  } else if (magic == kPe32PlusMagic) {
    countAt = 108;
    pe32Plus_ = true;
  } else {
    return false;
  }
  if (countAt + 4 > optionalSize) return false;
  file_.U32(optional_ + countAt, &directoryCount_);
  directories_ = optional_ + countAt + 4;
  // Only the directories inside the optional header count.
  directoryCount_ = static_cast<uint32_t>(std::min<uint64_t>(
      directoryCount_, (optionalSize - countAt - 4) / kDirectoryEntrySize));
  sections_ = optional_ + optionalSize;
  return file_.Has(sections_, sectionCount_ * kSectionHeaderSize);
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
