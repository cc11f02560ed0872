// talvorn-pack: makes, lists, checks and unpacks the extractor's payload
// archive, bare or inside a built TalvornSetup.exe.
//
//   talvorn-pack pack <folder> <out-archive> [--order <listfile>] [--level <0-12>]
//                     [--machine x86|x64]
//   talvorn-pack list <exe or archive>
//   talvorn-pack verify <exe or archive> [--machine x86|x64]
//   talvorn-pack extract <exe or archive> <folder> [--machine x86|x64]
//
// --machine names the stub's build that zlib1.dll must suit (x86, the
// shipped one, when not given); an exe's own header names it instead.
// Exit code 0 on success, 1 on a refused folder or a bad file, 2 on a wrong
// command line.
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <map>
#include <string>
#include <system_error>
#include <vector>

#include "tools/archive_check.h"
#include "tools/extract_folder.h"
#include "tools/pack_folder.h"
#include "tools/payload_file.h"

namespace fs = std::filesystem;

namespace {

int Usage() {
  std::cerr << "usage: talvorn-pack pack <folder> <out-archive> [--order <listfile>] "
               "[--level <0-12>] [--machine x86|x64]\n"
               "       talvorn-pack list <exe or archive>\n"
               "       talvorn-pack verify <exe or archive> [--machine x86|x64]\n"
               "       talvorn-pack extract <exe or archive> <folder> [--machine x86|x64]\n"
               "levels 0-9 are zlib's, 10-12 libdeflate's; the default is 12\n";
  return 2;
}

// The words of a command line: the positional ones, and the options that
// take a value. False on an option not allowed or given twice.
struct Words {
  std::vector<std::string> positional;
  std::map<std::string, std::string> options;

  bool Read(int argc, char** argv, const std::vector<std::string>& allowed) {
    for (int i = 2; i < argc; ++i) {
      std::string word = argv[i];
      if (word.rfind("--", 0) != 0) {
        positional.push_back(word);
        continue;
      }
      const bool known = std::find(allowed.begin(), allowed.end(), word) != allowed.end();
      if (!known || i + 1 == argc || !options.emplace(word, argv[i + 1]).second) return false;
      ++i;
    }
    return true;
  }

  // The machine named, kMachineX86 when none; 0 for a name not known.
  uint16_t Machine() const {
    auto given = options.find("--machine");
    return given == options.end() ? kMachineX86 : ParseMachine(given->second);
  }
};

// One line on a terminal, redrawn as entries are done; nothing when the
// output goes to a file or a build log.
class ProgressLine {
 public:
  ProgressLine() : shown_(isatty(STDERR_FILENO) == 1) {}
  ~ProgressLine() {
    if (drawn_) std::cerr << '\n';
  }

  ProgressSink sink() {
    if (!shown_) return nullptr;
    return [this](const PackProgress& done) { Draw(done); };
  }

 private:
  void Draw(const PackProgress& done) {
    const auto now = std::chrono::steady_clock::now();
    if (drawn_ && done.entries != done.totalEntries &&
        now - last_ < std::chrono::milliseconds(100)) {
      return;
    }
    last_ = now;
    drawn_ = true;
    char line[160];
    std::snprintf(line, sizeof line, "\rpacking: %zu of %zu entries, %.1f of %.1f MiB",
                  done.entries, done.totalEntries, done.bytes / 1048576.0,
                  done.totalBytes / 1048576.0);
    std::cerr << line << std::flush;
  }

  bool shown_;
  bool drawn_ = false;
  std::chrono::steady_clock::time_point last_;
};

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

int Pack(const Words& words) {
  PackOptions options;
  options.machine = words.Machine();
  auto level = words.options.find("--level");
  if (level != words.options.end()) {
    const std::string& text = level->second;
    const bool digits = !text.empty() && text.size() <= 2 &&
                        text.find_first_not_of("0123456789") == std::string::npos;
    if (!digits || std::stoi(text) > kMaxLevel) return Usage();
    options.level = std::stoi(text);
  }
  if (words.positional.size() != 2) return Usage();
  fs::path folder = words.positional[0], out = words.positional[1];
  // A second run would pack the first run's archive.
  if (IsInside(out, folder)) throw PackError("the archive may not be written inside the folder");
  std::vector<PackItem> items = CollectFolder(folder);
  auto order = words.options.find("--order");
  if (order != words.options.end()) {
    Bytes list = ReadFileBytes(order->second);
    items = OrderByList(items, std::string(list.begin(), list.end()));
  }
  Bytes archive;
  {
    ProgressLine progress;
    options.progress = progress.sink();
    archive = PackItems(items, options);
  }
  WriteAtomically(out, archive);
  return 0;
}

int List(const char* path) {
  PayloadFile file = LoadPayloadFile(path);
  ArchiveReport report = InspectPayloadFile(file, kMachineX86);
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
int Verify(const char* path, uint16_t machine) {
  PayloadFile file = LoadPayloadFile(path);
  ArchiveReport report = InspectPayloadFile(file, machine);
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

int Extract(const char* path, const fs::path& folder, uint16_t machine) {
  PayloadFile file = LoadPayloadFile(path);
  ArchiveReport report = InspectPayloadFile(file, machine);
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
  const std::string command = argv[1];
  Words words;
  const std::vector<std::string> allowed =
      command == "pack" ? std::vector<std::string>{"--order", "--level", "--machine"}
      : command == "list" ? std::vector<std::string>{}
                          : std::vector<std::string>{"--machine"};
  if (!words.Read(argc, argv, allowed) || words.Machine() == 0) return Usage();
  const std::vector<std::string>& given = words.positional;
  try {
    if (command == "pack") return Pack(words);
    if (command == "extract" && given.size() == 2) {
      return Extract(given[0].c_str(), given[1], words.Machine());
    }
    if (given.size() != 1) return Usage();
    if (command == "list") return List(given[0].c_str());
    if (command == "verify") return Verify(given[0].c_str(), words.Machine());
  } catch (const std::exception& error) {
    std::cerr << "talvorn-pack: " << error.what() << '\n';
    return 1;
  }
  return Usage();
}
