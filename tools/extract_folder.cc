#include "tools/extract_folder.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <utility>

#include "payload/archive.h"
#include "tools/name_text.h"
#include "tools/pack_error.h"

namespace fs = std::filesystem;

namespace {

// A descriptor closed when it goes out of scope.
class Descriptor {
 public:
  explicit Descriptor(int fd = -1) : fd_(fd) {}
  ~Descriptor() { Reset(-1); }
  Descriptor(Descriptor&& other) noexcept : fd_(other.Release()) {}
  Descriptor& operator=(Descriptor&& other) noexcept {
    if (this != &other) Reset(other.Release());
    return *this;
  }
  int get() const { return fd_; }
  int Release() { return std::exchange(fd_, -1); }

 private:
  void Reset(int fd) {
    if (fd_ >= 0) close(fd_);
    fd_ = fd;
  }
  int fd_;
};

// error is the errno of the failed call, taken before anything else could
// change it.
[[noreturn]] void Fail(const std::string& what, const std::string& shown, int error) {
  throw PackError("cannot " + what + " " + Quoted(shown) + ": " + std::strerror(error));
}

int OpenFolder(int parent, const std::string& name) {
  return openat(parent, name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
}

}  // namespace

FolderWriter::FolderWriter(int root, fs::path shownAs, std::vector<std::string> prefix)
    : root_(root), shownAs_(std::move(shownAs)), prefix_(std::move(prefix)) {}

std::string FolderWriter::Shown(const std::vector<std::string>& path) const {
  fs::path shown = shownAs_;
  for (const std::string& part : path) shown /= part;
  return shown.string();
}

void FolderWriter::Remember(int fd, const std::vector<std::string>& path, bool folder) {
  struct stat made;
  if (fstat(fd, &made) == 0) made_.push_back({path, folder, made.st_dev, made.st_ino});
}

void FolderWriter::Write(const Landing& landing, const uint8_t* data, uint32_t size,
                         bool raw) {
  std::vector<std::string> folders = prefix_;
  folders.insert(folders.end(), landing.folders.begin(), landing.folders.end());
  std::vector<std::string> path;
  std::vector<Descriptor> open;
  int parent = root_;
  for (const std::string& folder : folders) {
    path.push_back(folder);
    const bool made = mkdirat(parent, folder.c_str(), 0755) == 0;
    int error = errno;
    if (!made && error != EEXIST) Fail("create the folder", Shown(path), error);
    Descriptor opened(OpenFolder(parent, folder));
    error = errno;
    if (opened.get() < 0) Fail("open the folder", Shown(path), error);
    parent = opened.get();
    open.push_back(std::move(opened));
    if (made) Remember(parent, path, true);
  }
  path.push_back(landing.file);

  // A file of its own, or the one an earlier entry made and this one
  // replaces; never a file that was there before.
  const int flags = O_WRONLY | O_NOFOLLOW | O_CLOEXEC;
  Descriptor file(openat(parent, landing.file.c_str(), flags | O_CREAT | O_EXCL, 0644));
  const bool made = file.get() >= 0;
  int error = errno;
  if (!made && error == EEXIST && landing.replaces >= 0) {
    file = Descriptor(openat(parent, landing.file.c_str(), flags | O_TRUNC));
    error = errno;
  }
  if (file.get() < 0) Fail("create", Shown(path), error);
  if (made) Remember(file.get(), path, false);

  int writeError = 0;
  auto put = [&](const uint8_t* bytes, size_t count) {
    while (count > 0) {
      ssize_t written = write(file.get(), bytes, count);
      if (written < 0 && errno == EINTR) continue;
      if (written <= 0) {
        // A disk that takes nothing and gives no reason is full.
        writeError = written < 0 ? errno : ENOSPC;
        return false;
      }
      bytes += written;
      count -= static_cast<size_t>(written);
    }
    return true;
  };
  std::string problem;
  const bool ok = raw ? put(data, size) : Inflate(data, size, &problem, put) >= 0;
  if (writeError != 0) Fail("write", Shown(path), writeError);
  if (!ok) throw PackError(Quoted(Shown(path)) + ": " + problem);
  // Some file systems report a failed write only when the file is closed.
  if (close(file.Release()) != 0) {
    error = errno;
    Fail("write", Shown(path), error);
  }
}

void FolderWriter::RemoveMade() {
  for (auto made = made_.rbegin(); made != made_.rend(); ++made) {
    // The folders above it are opened again one by one, never through a link.
    std::vector<Descriptor> open;
    int parent = root_;
    for (size_t i = 0; i + 1 < made->path.size() && parent >= 0; ++i) {
      open.emplace_back(OpenFolder(parent, made->path[i]));
      parent = open.back().get();
    }
    struct stat now;
    const char* name = made->path.back().c_str();
    if (parent < 0 || fstatat(parent, name, &now, AT_SYMLINK_NOFOLLOW) != 0 ||
        now.st_dev != made->device || now.st_ino != made->inode) {
      continue;
    }
    // A folder that holds anything not made here stays, and so does that.
    unlinkat(parent, name, made->folder ? AT_REMOVEDIR : 0);
  }
  made_.clear();
}

size_t ExtractArchive(const uint8_t* archive, size_t size, const ArchiveReport& report,
                      const fs::path& folder) {
  if (!report.problem.empty()) throw PackError(report.problem + "; nothing extracted");

  struct Placed {
    std::string name;
    Landing landing;
    ArchiveEntry entry;
  };
  std::vector<Placed> placements;
  FoldedLayout layout;
  ArchiveWalker walker(archive, static_cast<int32_t>(size - kTrailerSize));
  ArchiveEntry entry;
  while (walker.Next(&entry)) {
    std::string name(reinterpret_cast<const char*>(entry.name), entry.nameSize);
    Landing landing = layout.Place(name);
    if (!landing.clash.empty()) {
      throw PackError(EntryLabel(placements.size(), name) + " " + landing.clash);
    }
    placements.push_back({name, std::move(landing), entry});
  }

  // The nearest folder that exists is opened; the missing ones below it are
  // made with the first entry, so that a failure takes them away as well.
  fs::path target = folder.lexically_normal();
  if (!target.has_filename()) target = target.parent_path();
  std::vector<std::string> missing;
  fs::path base = target;
  std::error_code error;
  while (!base.empty() && !fs::exists(fs::symlink_status(base, error))) {
    missing.insert(missing.begin(), base.filename().string());
    base = base.parent_path();
  }
  if (missing.empty()) {
    if (!fs::is_directory(target, error)) {
      throw PackError(Quoted(folder.string()) + " is not a folder");
    }
    if (!fs::is_empty(target, error) || error) {
      throw PackError(Quoted(folder.string()) + " is not empty");
    }
  }
  Descriptor root(open(base.empty() ? "." : base.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (root.get() < 0) {
    const int failed = errno;
    Fail("open the folder", base.string(), failed);
  }

  FolderWriter writer(root.get(), base, missing);
  for (size_t i = 0; i < placements.size(); ++i) {
    const Placed& placed = placements[i];
    try {
      writer.Write(placed.landing, placed.entry.data, placed.entry.fileSize,
                   IsRawEntryName(placed.entry.name, placed.entry.nameSize));
    } catch (const PackError& failure) {
      writer.RemoveMade();
      throw PackError(EntryLabel(i, placed.name) + ": " + failure.what() +
                      "; the files and folders made by this extraction are removed");
    }
  }
  return placements.size();
}
