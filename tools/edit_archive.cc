// talvorn-edit: derives the end-to-end tests' payloads from a good archive.
// They include archives the packer would refuse, on purpose.
//
//   talvorn-edit <in> <out> [--remove NAME]... [--keep NAME]...
//                [--corrupt NAME] [--flip-check NAME] [--cut NAME]
//                [--insert-after NAME NEWNAME TEXT]...
//
// --remove drops an entry; --keep drops every entry not kept; --corrupt
// damages the middle of an entry's zlib stream, --flip-check the last byte of
// its Adler-32, and --cut stores only its first half; --insert-after adds a
// compressed entry of TEXT named NEWNAME, with no check of the name, after
// entry NAME.
#include <fstream>
#include <iostream>
#include <iterator>
#include <set>
#include <string>
#include <vector>

#include "payload/archive.h"
#include "tools/archive_writer.h"

namespace {

struct Insertion {
  std::string after, name, text;
};

int Fail(const std::string& message) {
  std::cerr << "talvorn-edit: " << message << "\n";
  return 1;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 3) return Fail("usage: talvorn-edit <in> <out> [edits...]");
  std::set<std::string> removed, kept;
  std::string corrupted, flipped, cut;
  std::vector<Insertion> insertions;
  for (int i = 3; i < argc; ++i) {
    std::string option = argv[i];
    if (option == "--remove" && i + 1 < argc) {
      removed.insert(argv[++i]);
    } else if (option == "--keep" && i + 1 < argc) {
      kept.insert(argv[++i]);
    } else if (option == "--corrupt" && i + 1 < argc) {
      corrupted = argv[++i];
    } else if (option == "--flip-check" && i + 1 < argc) {
      flipped = argv[++i];
    } else if (option == "--cut" && i + 1 < argc) {
      cut = argv[++i];
    } else if (option == "--insert-after" && i + 3 < argc) {
      insertions.push_back({argv[i + 1], argv[i + 2], argv[i + 3]});
      i += 3;
    } else {
      return Fail("unknown edit " + option);
    }
  }
  std::ifstream in(argv[1], std::ios::binary);
  Bytes archive((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  if (archive.size() < kTrailerSize) return Fail("not an archive");
  ArchiveWalker walker(archive.data(), static_cast<int32_t>(archive.size() - kTrailerSize));
  ArchiveWriter writer;
  ArchiveEntry entry;
  while (walker.Next(&entry)) {
    std::string name(reinterpret_cast<const char*>(entry.name), entry.nameSize);
    Bytes data(entry.data, entry.data + entry.fileSize);
    if (name == corrupted && data.size() > 20) {
      for (size_t i = data.size() / 2; i < data.size() / 2 + 8; ++i) data[i] ^= 0x5A;
    }
    if (name == flipped && !data.empty()) data.back() ^= 0x01;
    if (name == cut) data.resize(data.size() / 2);
    bool dropped = removed.count(name) != 0 || (!kept.empty() && kept.count(name) == 0);
    if (!dropped) writer.AppendEntry(static_cast<uint32_t>(data.size()), name, data);
    for (const Insertion& insertion : insertions) {
      if (insertion.after != name) continue;
      Bytes text(insertion.text.begin(), insertion.text.end());
      writer.AppendEntry(static_cast<uint32_t>(DeflateLevel9(text).size()),
                         insertion.name, DeflateLevel9(text));
    }
  }
  if (walker.error() != WalkError::kNone) return Fail("the input archive is damaged");
  writer.AppendTrailer();
  std::ofstream out(argv[2], std::ios::binary);
  out.write(reinterpret_cast<const char*>(writer.bytes().data()),
            static_cast<std::streamsize>(writer.bytes().size()));
  return out ? 0 : Fail("cannot write " + std::string(argv[2]));
}
