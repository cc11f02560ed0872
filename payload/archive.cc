#include "payload/archive.h"

#include <cstring>

#include "support/bytes.h"

const char kRawEntryName[] = "zlib1.dll";

namespace {

bool IsDeviceName(const uint8_t* component, uint32_t size) {
  // The platform maps these names to devices in any folder and with any
  // extension, so the part before the first dot decides.
  // Blanks before the dot are dropped by the platform too ("NUL .txt").
  uint32_t stem = 0;
  while (stem < size && component[stem] != '.') ++stem;
  while (stem > 0 && component[stem - 1] == ' ') --stem;
  char upper[8] = {};
  if (stem < 3 || stem > 7) return false;
  for (uint32_t i = 0; i < stem; ++i) {
    char c = static_cast<char>(component[i]);
    upper[i] = (c >= 'a' && c <= 'z') ? static_cast<char>(c - 32) : c;
  }
  static const char* const kNames[] = {"CON", "PRN", "AUX", "NUL", "CONIN$",
                                       "CONOUT$"};
  for (const char* device : kNames) {
    if (std::strcmp(upper, device) == 0) return true;
  }
  bool numbered = stem == 4 && upper[3] >= '0' && upper[3] <= '9';
  return numbered &&
         (std::strncmp(upper, "COM", 3) == 0 || std::strncmp(upper, "LPT", 3) == 0);
}

NameProblem CheckComponent(const uint8_t* component, uint32_t size) {
  bool onlyDotsAndBlanks = true;
  for (uint32_t i = 0; i < size; ++i) {
    if (component[i] != '.' && component[i] != ' ') onlyDotsAndBlanks = false;
  }
  if (onlyDotsAndBlanks) return NameProblem::kDotComponent;
  uint8_t last = component[size - 1];
  if (last == '.' || last == ' ') return NameProblem::kTrailingDotOrBlank;
  if (IsDeviceName(component, size)) return NameProblem::kDeviceName;
  return NameProblem::kNone;
}

}  // namespace

NameProblem CheckEntryName(const uint8_t* name, uint32_t size) {
  if (size == 0) return NameProblem::kEmpty;
  if (size > kMaxEntryNameSize) return NameProblem::kTooLong;
  for (uint32_t i = 0; i < size; ++i) {
    uint8_t c = name[i];
    if (c < 0x20 || c > 0x7E) return NameProblem::kNotAscii;
    if (std::strchr("<>:\"/|?*", c) != nullptr) {
      return NameProblem::kForbiddenCharacter;
    }
  }
  if (name[0] == '\\') return NameProblem::kLeadingBackslash;
  if (name[size - 1] == '\\') return NameProblem::kTrailingBackslash;
  uint32_t start = 0;
  for (uint32_t i = 0; i <= size; ++i) {
    if (i < size && name[i] != '\\') continue;
    if (i == start) return NameProblem::kDoubledBackslash;
    NameProblem problem = CheckComponent(name + start, i - start);
    if (problem != NameProblem::kNone) return problem;
    start = i + 1;
  }
  return NameProblem::kNone;
}

const char* DescribeNameProblem(NameProblem problem) {
  switch (problem) {
    case NameProblem::kNone: return "a good name";
    case NameProblem::kEmpty: return "the name is empty";
    case NameProblem::kTooLong: return "the name is longer than 255 bytes";
    case NameProblem::kNotAscii: return "the name has a byte that is not printable ASCII";
    case NameProblem::kForbiddenCharacter: return "the name has a character that no file name may hold";
    case NameProblem::kLeadingBackslash: return "the name is not relative";
    case NameProblem::kTrailingBackslash: return "the name ends in a backslash";
    case NameProblem::kDoubledBackslash: return "the name has a doubled backslash";
    case NameProblem::kDotComponent: return "the name has a \".\" or \"..\" component";
    case NameProblem::kTrailingDotOrBlank: return "a component of the name ends in a dot or a blank";
    case NameProblem::kDeviceName: return "a component of the name is a device name";
  }
  return "a bad name";
}

bool IsRawEntryName(const uint8_t* name, uint32_t size) {
  return size == sizeof kRawEntryName - 1 &&
         std::memcmp(name, kRawEntryName, size) == 0;
}

const char* DescribeWalkError(WalkError error) {
  switch (error) {
    case WalkError::kNone: return "no error";
    case WalkError::kHeaderPastEnd: return "the entry header runs past the end of the archive";
    case WalkError::kNamePastEnd: return "the entry name runs past the end of the archive";
    case WalkError::kDataPastEnd: return "the entry data runs past the end of the archive";
    case WalkError::kBadName: return "the entry name is not a safe relative path";
  }
  return "an unknown error";
}

ArchiveWalker::ArchiveWalker(const uint8_t* archive, int32_t areaLength)
    : archive_(archive),
      length_(areaLength > 0 ? static_cast<uint32_t>(areaLength) : 0) {}

bool ArchiveWalker::Next(ArchiveEntry* entry) {
  if (error_ != WalkError::kNone || offset_ >= length_) return false;
  ++index_;
  *entry = ArchiveEntry{0, 0, nullptr, nullptr, static_cast<int32_t>(offset_)};
  // Sizes are compared with what is left of the area, never added to the
  // offset first, so no field value can wrap the arithmetic.
  uint32_t left = length_ - offset_;
  if (left < kEntryHeaderSize) {
    error_ = WalkError::kHeaderPastEnd;
    return false;
  }
  const uint8_t* header = archive_ + offset_;
  ReadU32(&entry->fileSize, header);
  ReadU32(&entry->nameSize, header + 4);
  left -= kEntryHeaderSize;
  if (entry->nameSize > left) {
    error_ = WalkError::kNamePastEnd;
    return false;
  }
  entry->name = header + kEntryHeaderSize;
  left -= entry->nameSize;
  nameProblem_ = CheckEntryName(entry->name, entry->nameSize);
  if (nameProblem_ != NameProblem::kNone) {
    error_ = WalkError::kBadName;
    return false;
  }
  if (entry->fileSize > left) {
    error_ = WalkError::kDataPastEnd;
    return false;
  }
  entry->data = entry->name + entry->nameSize;
  offset_ += kEntryHeaderSize + entry->nameSize + entry->fileSize;
  return true;
}
