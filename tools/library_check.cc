#include "tools/library_check.h"

#include <cstdio>
#include <cstring>

#include "tools/pe_file.h"

namespace {

const uint16_t kExecutableImage = 0x0002;  // IMAGE_FILE_EXECUTABLE_IMAGE
const uint16_t kDllImage = 0x2000;         // IMAGE_FILE_DLL
const uint64_t kExportDirectorySize = 40;

std::string Hex(uint32_t value, int digits) {
  char text[16];
  std::snprintf(text, sizeof text, "0x%0*X", digits, value);
  return text;
}

// The export table as GetProcAddress reads it: names sorted bytewise, each
// leading through its ordinal to a function.
class Exports {
 public:
  Exports(const PeFile& pe, const View& file) : pe_(pe), file_(file) {}

  // False when the export directory is missing or lies outside the file.
  bool Read() {
    const Directory exports = pe_.directory(kExportDirectory);
    uint64_t at = 0;
    if (exports.address == 0 ||
        pe_.Map(exports.address, kExportDirectorySize, &at) != PeFile::Mapping::kInFile) {
      return false;
    }
    uint32_t namesRva = 0, ordinalsRva = 0;
    file_.U32(at + 20, &functionCount_);
    file_.U32(at + 24, &nameCount_);
    file_.U32(at + 28, &functionsRva_);
    file_.U32(at + 32, &namesRva);
    file_.U32(at + 36, &ordinalsRva);
    return nameCount_ == 0 ||
           (pe_.Map(namesRva, uint64_t{nameCount_} * 4, &names_) == PeFile::Mapping::kInFile &&
            pe_.Map(ordinalsRva, uint64_t{nameCount_} * 2, &ordinals_) ==
                PeFile::Mapping::kInFile);
  }

  // Looked up by binary search, as the Windows loader and Wine's do: in a
  // table out of order a name can be there and still not be found.
  bool Has(const std::string& name) const {
    uint64_t low = 0, high = nameCount_;
    while (low < high) {
      const uint64_t middle = low + (high - low) / 2;
      const int order = Compare(middle, name);
      if (order == 0) return LeadsToFunction(middle);
      if (order < 0) {
        low = middle + 1;
      } else {
        high = middle;
      }
    }
    return false;
  }

 private:
  // strcmp of the index-th exported name with name; a name that runs off
  // its section without an end counts as different.
  int Compare(uint64_t index, const std::string& name) const {
    uint32_t rva = 0;
    View rest(nullptr, 0);
    if (!file_.U32(names_ + index * 4, &rva) || !pe_.MapRest(rva, &rest)) return 1;
    const uint8_t* text = rest.data();
    for (uint64_t i = 0;; ++i) {
      if (i == rest.size()) return 1;
      const uint8_t wanted = i < name.size() ? static_cast<uint8_t>(name[i]) : 0;
      if (text[i] != wanted) return text[i] < wanted ? -1 : 1;
      if (wanted == 0) return 0;
    }
  }

  bool LeadsToFunction(uint64_t index) const {
    uint16_t ordinal = 0;
    uint32_t function = 0;
    uint64_t at = 0;
    return file_.U16(ordinals_ + index * 2, &ordinal) && ordinal < functionCount_ &&
           pe_.Map(functionsRva_ + ordinal * 4u, 4, &at) == PeFile::Mapping::kInFile &&
           file_.U32(at, &function) && function != 0;
  }

  const PeFile& pe_;
  const View& file_;
  uint32_t functionCount_ = 0, nameCount_ = 0, functionsRva_ = 0;
  uint64_t names_ = 0, ordinals_ = 0;
};

}  // namespace

std::string MachineName(uint16_t machine) {
  if (machine == kMachineX86) return "x86";
  if (machine == kMachineX64) return "x64";
  return "machine " + Hex(machine, 4);
}

uint16_t ParseMachine(const std::string& name) {
  if (name == "x86") return kMachineX86;
  if (name == "x64") return kMachineX64;
  return 0;
}

const std::vector<std::string>& RequiredZlibExports() {
  // In the binding's order of lookup (compression/zlib_binding.cc).
  static const std::vector<std::string> names = {
      "inflateEnd", "inflate", "inflateInit_", "inflateInit2_", "deflateEnd",
      "deflate", "deflateInit_", "gzopen", "gzclose", "gzread",
      "inflateSync", "crc32", "get_crc_table", "deflateInit2_"};
  return names;
}

uint32_t PeChecksum(const uint8_t* file, size_t size, uint64_t checksumAt) {
  uint64_t sum = 0;
  for (size_t at = 0; at < size; at += 2) {
    uint32_t word = file[at];
    if (at + 1 < size) word |= uint32_t{file[at + 1]} << 8;
    if (at >= checksumAt && at < checksumAt + 4) word = 0;
    sum += word;
    sum = (sum & 0xFFFF) + (sum >> 16);
  }
  sum = (sum & 0xFFFF) + (sum >> 16);
  return static_cast<uint32_t>(sum + size);
}

std::string CheckZlibLibrary(const uint8_t* file, size_t size, uint16_t machine) {
  if (!HasPeSignature(file, size)) return "not a PE file, so no DLL Windows could load";
  const View view(file, size);
  PeFile pe(view);
  if (!pe.ReadHeaders()) return "its PE headers are damaged";
  if (pe.machine() != machine) {
    return "a DLL for " + MachineName(pe.machine()) + ", but the extractor is built for " +
           MachineName(machine);
  }
  if (pe.pe32Plus() != (machine == kMachineX64)) {
    return "its PE headers are damaged (a PE32" + std::string(pe.pe32Plus() ? "+" : "") +
           " optional header for " + MachineName(machine) + ")";
  }
  if ((pe.characteristics() & kDllImage) == 0) return "not a DLL: its header marks a program";
  if ((pe.characteristics() & kExecutableImage) == 0) {
    return "its header does not mark it executable: Windows would not load it";
  }
  // Linkers that carry no checksum leave 0, which Windows does not check.
  uint32_t stored = 0;
  view.U32(pe.checksumAt(), &stored);
  const uint32_t summed = stored == 0 ? 0 : PeChecksum(file, size, pe.checksumAt());
  if (stored != summed) {
    return "its bytes do not match its PE checksum (the header holds " + Hex(stored, 8) +
           ", the bytes sum to " + Hex(summed, 8) + "): the file is damaged";
  }
  Exports exports(pe, view);
  if (!exports.Read()) return "its export table is missing or damaged";
  std::string missing;
  for (const std::string& name : RequiredZlibExports()) {
    if (!exports.Has(name)) missing += (missing.empty() ? "\"" : ", \"") + name + "\"";
  }
  if (!missing.empty()) return "it does not export " + missing + ", which the extractor binds";
  return "";
}
