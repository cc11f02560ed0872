// libFuzzer target: the input is a whole file given to talvorn-pack. Finding
// the payload resource must stay inside the file (libFuzzer hands over a
// buffer of exactly the input's size, so any read past it is reported), end,
// and yield either a range inside the file or nothing; the archive walk then
// runs over that range as the packer would. The same file, judged as the
// payload's zlib1.dll, must stay inside it too and end.
#include <cstdint>
#include <cstdlib>

#include "payload/archive.h"
#include "tools/library_check.h"
#include "tools/pe_resource.h"

namespace {

void Invariant(bool condition) {
  if (!condition) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const bool pe = HasPeSignature(data, size);
  Invariant(pe || !CheckZlibLibrary(data, size, kMachineX86).empty());
  PeResource found = FindPayloadResource(data, size);
  Invariant(pe == (found.problem != PeProblem::kNotPe));
  if (found.problem != PeProblem::kNone) {
    Invariant(found.offset == 0 && found.size == 0);
    return 0;
  }
  Invariant(found.offset <= size && found.size <= size - found.offset);
  const uint8_t* archive = data + found.offset;
  volatile uint8_t sink = 0;
  if (found.size > 0) sink = sink + archive[0] + archive[found.size - 1];
  if (found.size >= kTrailerSize && found.size <= 0x7FFFFFFF) {
    ArchiveWalker walker(archive, static_cast<int32_t>(found.size - kTrailerSize));
    ArchiveEntry entry;
    while (walker.Next(&entry)) sink = sink + entry.nameSize;
  }
  return 0;
}
