// The payload archive: entries back to back, then a 4-byte trailer holding the
// length of the entry area. An entry is fileSize (u32 LE), filenameSize (u32
// LE), the name's bytes and fileSize bytes of data: raw for "zlib1.dll", one
// zlib stream for every other file.
//
// The walk trusts nothing: every entry is checked against the entry area, and
// every name must be a relative path that lands inside the target folder.
// Plain C++ over bytes, shared by the extractor, the packer and the fuzzer.
#pragma once

#include <cstdint>

// The one stored (not compressed) entry, told apart by its exact name.
extern const char kRawEntryName[];
const uint32_t kMaxEntryNameSize = 255;
const uint32_t kEntryHeaderSize = 8;
const uint32_t kTrailerSize = 4;

enum class NameProblem {
  kNone,
  kEmpty,
  kTooLong,
  kNotAscii,            // a byte above 0x7E or a control character
  kForbiddenCharacter,  // < > : " / | ? * (a colon also means a drive)
  kLeadingBackslash,    // absolute
  kTrailingBackslash,
  kDoubledBackslash,
  kDotComponent,        // ".", ".." or any component of dots and blanks
  kTrailingDotOrBlank,  // the platform would silently drop them
  kDeviceName,          // CON, NUL, COM1 ... name a device, not a file
};

NameProblem CheckEntryName(const uint8_t* name, uint32_t size);
const char* DescribeNameProblem(NameProblem problem);

// True for the raw entry: exactly the nine bytes of "zlib1.dll".
bool IsRawEntryName(const uint8_t* name, uint32_t size);

enum class WalkError {
  kNone,
  kHeaderPastEnd,
  kNamePastEnd,
  kDataPastEnd,
  kBadName,
};

const char* DescribeWalkError(WalkError error);

struct ArchiveEntry {
  uint32_t fileSize;
  uint32_t nameSize;
  const uint8_t* name;  // not terminated
  const uint8_t* data;
  int32_t offset;       // of the entry's header from the archive's start
};

class ArchiveWalker {
 public:
  // areaLength: the archive's size minus the trailer; the trailer itself is
  // never read. A length of 0 or less means no entries.
  ArchiveWalker(const uint8_t* archive, int32_t areaLength);

  // The next entry, or false at the end of the area or at the first entry
  // that does not hold together (error() then says why; entry holds what
  // could be read of it, with the name when it lies inside the area).
  bool Next(ArchiveEntry* entry);

  WalkError error() const { return error_; }
  NameProblem nameProblem() const { return nameProblem_; }
  int32_t index() const { return index_; }

 private:
  const uint8_t* archive_;
  uint32_t length_;
  uint32_t offset_ = 0;
  int32_t index_ = -1;
  WalkError error_ = WalkError::kNone;
  NameProblem nameProblem_ = NameProblem::kNone;
};
