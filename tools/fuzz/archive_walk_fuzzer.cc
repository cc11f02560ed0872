// libFuzzer target: the input is a whole payload archive. The walk must stay
// inside the entry area, never read the trailer, hand out only names that
// pass the name check, and end.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "payload/archive.h"
#include "tools/archive_writer.h"

namespace {

void Invariant(bool condition) {
  if (!condition) std::abort();
}

// What an accepted name may never be, checked apart from CheckEntryName's
// own logic: an absolute path, a drive, a parent step or a non-ASCII byte.
void RequireSafeName(const uint8_t* name, uint32_t size) {
  Invariant(size >= 1 && size <= kMaxEntryNameSize);
  Invariant(name[0] != '\\' && name[size - 1] != '\\');
  uint32_t componentStart = 0;
  for (uint32_t i = 0; i <= size; ++i) {
    if (i < size) {
      Invariant(name[i] >= 0x20 && name[i] < 0x7F && name[i] != '/' && name[i] != ':');
      if (name[i] != '\\') continue;
    }
    uint32_t length = i - componentStart;
    Invariant(length > 0);
    Invariant(!(length == 2 && std::memcmp(name + componentStart, "..", 2) == 0));
    componentStart = i + 1;
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < kTrailerSize || size > 0x7FFFFFFF) return 0;
  // The entry area alone, in a buffer of its own size: touching the trailer
  // or anything past it is then an overflow that the sanitizer reports.
  const size_t area = size - kTrailerSize;
  std::vector<uint8_t> copy(data, data + area);
  const uint8_t* begin = copy.data();
  const uint8_t* end = begin + area;

  ArchiveWalker walker(begin, static_cast<int32_t>(area));
  ArchiveEntry entry;
  ArchiveWriter rewritten;
  size_t count = 0, expectedOffset = 0;
  volatile uint8_t sink = 0;
  while (walker.Next(&entry)) {
    // Each entry takes at least its 8-byte header, so the walk must end.
    Invariant(++count <= area / kEntryHeaderSize);
    Invariant(walker.index() == static_cast<int32_t>(count - 1));
    Invariant(static_cast<size_t>(entry.offset) == expectedOffset);
    Invariant(entry.name == begin + entry.offset + kEntryHeaderSize);
    Invariant(entry.data == entry.name + entry.nameSize);
    Invariant(entry.data <= end && entry.fileSize <= static_cast<size_t>(end - entry.data));
    Invariant(CheckEntryName(entry.name, entry.nameSize) == NameProblem::kNone);
    RequireSafeName(entry.name, entry.nameSize);
    for (uint32_t i = 0; i < entry.nameSize; ++i) sink = sink + entry.name[i];
    for (uint32_t i = 0; i < entry.fileSize; ++i) sink = sink + entry.data[i];
    expectedOffset += kEntryHeaderSize + entry.nameSize + entry.fileSize;
    rewritten.AppendEntry(entry.fileSize,
                          std::string(reinterpret_cast<const char*>(entry.name), entry.nameSize),
                          Bytes(entry.data, entry.data + entry.fileSize));
  }
  Invariant(walker.Next(&entry) == false);  // stays ended
  if (walker.error() == WalkError::kNone) {
    // A clean walk covers the area exactly, and the writer lays the same
    // entries out byte for byte.
    Invariant(expectedOffset == area);
    Invariant(rewritten.bytes() == copy);
  } else {
    Invariant(expectedOffset < area);
    Invariant(walker.error() != WalkError::kBadName ||
            walker.nameProblem() != NameProblem::kNone);
  }
  return 0;
}
