#include "tools/extract_folder.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "payload/archive.h"
#include "tools/name_text.h"
#include "tools/pack_error.h"

namespace fs = std::filesystem;

namespace {

// One entry's place on disk: its folders and file name as first spelled.
struct Placement {
  std::vector<std::string> folders;
  std::string file;
  const uint8_t* data;
  uint32_t size;
  bool raw;
};

// Where each entry lands once letter case is folded, refusing what the
// extractor could not create either: a file where a folder must go, or the
// other way round.
class Layout {
 public:
  Placement Place(const std::string& name, const ArchiveEntry& entry) {
    std::vector<std::string> parts;
    for (size_t start = 0;;) {
      size_t end = name.find('\\', start);
      parts.push_back(name.substr(start, end - start));
      if (end == std::string::npos) break;
      start = end + 1;
    }
    Placement placed{{}, {}, entry.data, entry.fileSize,
                     IsRawEntryName(entry.name, entry.nameSize)};
    std::string folded;
    for (size_t i = 0; i < parts.size(); ++i) {
      folded += (i ? "\\" : "") + LowerAscii(parts[i]);
      const bool isFile = i + 1 == parts.size();
      auto known = seen_.emplace(folded, Seen{isFile, parts[i], name}).first;
      if (known->second.isFile != isFile) {
        throw PackError(Quoted(name) + " needs a " + (isFile ? "file" : "folder") +
                        " where " + Quoted(known->second.entry) + " has a " +
                        (isFile ? "folder" : "file") + ": the extractor would fail");
      }
      if (isFile) {
        placed.file = known->second.spelling;
      } else {
        placed.folders.push_back(known->second.spelling);
      }
    }
    return placed;
  }

 private:
  struct Seen {
    bool isFile;
    std::string spelling;  // of this component, as first met
    std::string entry;     // the entry that first made it
  };
  std::map<std::string, Seen> seen_;  // by folded path
};

// A descriptor closed when it goes out of scope.
class Descriptor {
 public:
  explicit Descriptor(int fd) : fd_(fd) {}
  ~Descriptor() {
    if (fd_ >= 0) close(fd_);
  }
  Descriptor(const Descriptor&) = delete;
  Descriptor& operator=(const Descriptor&) = delete;
  int get() const { return fd_; }

 private:
  int fd_;
};

[[noreturn]] void Fail(const std::string& what, const std::string& path) {
  throw PackError("cannot " + what + " " + Quoted(path) + ": " + std::strerror(errno));
}

// Every step goes through the descriptor of the folder above it with
// O_NOFOLLOW, so a link planted below the folder is refused, never followed.
void WriteEntry(int root, const Placement& placed) {
  std::string path;
  int parent = root;
  std::vector<std::unique_ptr<Descriptor>> open;
  for (const std::string& folder : placed.folders) {
    path += folder + "/";
    if (mkdirat(parent, folder.c_str(), 0755) != 0 && errno != EEXIST) {
      Fail("create the folder", path);
    }
    open.push_back(std::make_unique<Descriptor>(
        openat(parent, folder.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC)));
    if (open.back()->get() < 0) Fail("open the folder", path);
    parent = open.back()->get();
  }
  path += placed.file;
  Descriptor file(openat(parent, placed.file.c_str(),
                         O_WRONLY | O_CREAT | O_TRUNC | O_NOFOLLOW | O_CLOEXEC, 0644));
  if (file.get() < 0) Fail("create", path);
  auto put = [&](const uint8_t* data, size_t size) {
    while (size > 0) {
      ssize_t written = write(file.get(), data, size);
      if (written < 0 && errno == EINTR) continue;
      if (written <= 0) return false;
      data += written;
      size -= static_cast<size_t>(written);
    }
    return true;
  };
  std::string problem;
  bool ok = placed.raw ? put(placed.data, placed.size)
                       : Inflate(placed.data, placed.size, &problem, put) >= 0;
  if (!ok) Fail("write", path);
}

void PrepareFolder(const fs::path& folder) {
  std::error_code error;
  if (!fs::exists(folder, error)) {
    fs::create_directories(folder, error);
    if (error) throw PackError("cannot create " + Quoted(folder.string()) + ": " + error.message());
  } else if (!fs::is_directory(folder, error)) {
    throw PackError(Quoted(folder.string()) + " is not a folder");
  } else if (!fs::is_empty(folder, error) || error) {
    throw PackError(Quoted(folder.string()) + " is not empty");
  }
}

}  // namespace

size_t ExtractArchive(const uint8_t* archive, size_t size, const ArchiveReport& report,
                      const fs::path& folder) {
  if (!report.problem.empty()) throw PackError(report.problem + "; nothing extracted");

  Layout layout;
  std::vector<Placement> placements;
  ArchiveWalker walker(archive, static_cast<int32_t>(size - kTrailerSize));
  ArchiveEntry entry;
  while (walker.Next(&entry)) {
    std::string name(reinterpret_cast<const char*>(entry.name), entry.nameSize);
    placements.push_back(layout.Place(name, entry));
  }

  PrepareFolder(folder);
  Descriptor root(open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (root.get() < 0) Fail("open", folder.string());
  for (const Placement& placed : placements) WriteEntry(root.get(), placed);
  return placements.size();
}
