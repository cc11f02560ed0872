// talvorn-pack: makes, lists and checks the extractor's payload archive.
//
//   talvorn-pack pack <folder> <out-archive> [--order <listfile>]
//   talvorn-pack list <archive>
//   talvorn-pack verify <archive>
//
// Exit code 0 on success, 1 on a refused folder or a bad archive, 2 on a
// wrong command line.
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <iterator>
#include <string>
#include <system_error>

#include "tools/archive_check.h"
#include "tools/pack_folder.h"

namespace fs = std::filesystem;

namespace {

int Usage() {
  std::cerr << "usage: talvorn-pack pack <folder> <out-archive> [--order <listfile>]\n"
               "       talvorn-pack list <archive>\n"
               "       talvorn-pack verify <archive>\n";
  return 2;
}

std::string ReadText(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) throw PackError("cannot open " + path.string());
  std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  if (in.bad()) throw PackError("cannot read " + path.string());
  return text;
}

bool IsInside(const fs::path& path, const fs::path& folder) {
  std::error_code error;
  fs::path base = fs::weakly_canonical(folder, error);
  fs::path inner = fs::weakly_canonical(path, error).parent_path();
  for (; !inner.empty(); inner = inner.parent_path()) {
    if (inner == base) return true;
    if (inner == inner.parent_path()) break;
  }
  return false;
}

// Written beside the target and renamed into place, so a failed run never
// leaves a partial archive under the final name.
void WriteAtomically(const fs::path& out, const Bytes& bytes) {
  fs::path partial = out;
  partial += ".partial";
  {
    std::ofstream file(partial, std::ios::binary | std::ios::trunc);
    file.write(reinterpret_cast<const char*>(bytes.data()),
               static_cast<std::streamsize>(bytes.size()));
    file.close();
    if (!file) {
      std::error_code ignored;
      fs::remove(partial, ignored);
      throw PackError("cannot write " + out.string());
    }
  }
  std::error_code error;
  fs::rename(partial, out, error);
  if (error) {
    fs::remove(partial, error);
    throw PackError("cannot write " + out.string());
  }
}

int Pack(int argc, char** argv) {
  if (argc != 4 && !(argc == 6 && std::string(argv[4]) == "--order")) return Usage();
  fs::path folder = argv[2], out = argv[3];
  // A second run would pack the first run's archive.
  if (IsInside(out, folder)) throw PackError("the archive may not be written inside the folder");
  std::vector<PackItem> items = CollectFolder(folder);
  if (argc == 6) items = OrderByList(items, ReadText(argv[5]));
  Bytes archive = PackItems(items);
  WriteAtomically(out, archive);
  return 0;
}

Bytes ReadArchive(const char* path) {
  std::string text = ReadText(path);
  return Bytes(text.begin(), text.end());
}

int List(const char* path) {
  Bytes archive = ReadArchive(path);
  ArchiveReport report = InspectArchive(archive.data(), archive.size());
  for (const EntryInfo& entry : report.entries) {
    std::cout << entry.name << '\t' << (entry.raw ? "raw" : "zlib") << '\t'
              << entry.storedSize << '\t';
    if (entry.inflatedSize < 0) {
      std::cout << "?\n";
    } else {
      std::cout << entry.inflatedSize << '\n';
    }
  }
  // A listing with holes is still useful, so only a broken walk fails it.
  if (!report.walkProblem.empty()) {
    std::cerr << path << ": " << report.walkProblem << '\n';
    return 1;
  }
  return 0;
}

int Verify(const char* path) {
  Bytes archive = ReadArchive(path);
  ArchiveReport report = InspectArchive(archive.data(), archive.size());
  if (!report.problem.empty()) {
    std::cerr << path << ": " << report.problem << '\n';
    return 1;
  }
  std::cout << "OK " << report.entries.size() << " entries\n";
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 3) return Usage();
  std::string command = argv[1];
  try {
    if (command == "pack") return Pack(argc, argv);
    if (argc != 3) return Usage();
    if (command == "list") return List(argv[2]);
    if (command == "verify") return Verify(argv[2]);
  } catch (const std::exception& error) {
    std::cerr << "talvorn-pack: " << error.what() << '\n';
    return 1;
  }
  return Usage();
}
