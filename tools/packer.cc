// talvorn-pack: makes, lists, checks and unpacks the extractor's payload
// archive, bare or inside a built TalvornSetup.exe.
//
//   talvorn-pack pack <folder> <out-archive> [--order <listfile>]
//   talvorn-pack list <exe or archive>
//   talvorn-pack verify <exe or archive>
//   talvorn-pack extract <exe or archive> <folder>
//
// Exit code 0 on success, 1 on a refused folder or a bad file, 2 on a wrong
// command line.
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <string>
#include <system_error>

#include "tools/archive_check.h"
#include "tools/extract_folder.h"
#include "tools/pack_folder.h"
#include "tools/payload_file.h"

namespace fs = std::filesystem;

namespace {

int Usage() {
  std::cerr << "usage: talvorn-pack pack <folder> <out-archive> [--order <listfile>]\n"
               "       talvorn-pack list <exe or archive>\n"
               "       talvorn-pack verify <exe or archive>\n"
               "       talvorn-pack extract <exe or archive> <folder>\n";
  return 2;
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
  if (argc == 6) {
    Bytes list = ReadFileBytes(argv[5]);
    items = OrderByList(items, std::string(list.begin(), list.end()));
  }
  Bytes archive = PackItems(items);
  WriteAtomically(out, archive);
  return 0;
}

int List(const char* path) {
  PayloadFile file = LoadPayloadFile(path);
  ArchiveReport report = InspectPayloadFile(file);
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

// One line on stderr for each entry that replaces the file of an earlier one.
void Warn(const char* path, const ArchiveReport& report) {
  for (const std::string& warning : report.warnings) {
    std::cerr << path << ": warning: " << warning << '\n';
  }
}

// For an exe, a second line says whether it carries an Authenticode
// signature; whether the signature is good is for "osslsigncode verify".
int Verify(const char* path) {
  PayloadFile file = LoadPayloadFile(path);
  ArchiveReport report = InspectPayloadFile(file);
  if (!report.problem.empty()) {
    std::cerr << path << ": " << report.problem << '\n';
    return 1;
  }
  Warn(path, report);
  const std::string signature =
      std::string("Authenticode signature: ") + DescribeSignatureState(file.signature);
  if (file.signature == SignatureState::kDamaged) {
    std::cerr << path << ": " << signature << '\n';
    return 1;
  }
  std::cout << "OK " << report.entries.size() << " entries\n";
  if (file.isExe) std::cout << signature << '\n';
  return 0;
}

int Extract(const char* path, const fs::path& folder) {
  PayloadFile file = LoadPayloadFile(path);
  ArchiveReport report = InspectPayloadFile(file);
  if (!report.problem.empty()) {
    std::cerr << path << ": " << report.problem << "; nothing extracted\n";
    return 1;
  }
  size_t count = ExtractArchive(file.archive(), file.size, report, folder);
  Warn(path, report);
  std::cout << "OK " << count << " entries extracted\n";
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 3) return Usage();
  std::string command = argv[1];
  try {
    if (command == "pack") return Pack(argc, argv);
    if (command == "extract" && argc == 4) return Extract(argv[2], argv[3]);
    if (argc != 3) return Usage();
    if (command == "list") return List(argv[2]);
    if (command == "verify") return Verify(argv[2]);
  } catch (const std::exception& error) {
    std::cerr << "talvorn-pack: " << error.what() << '\n';
    return 1;
  }
  return Usage();
}
