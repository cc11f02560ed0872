// Unpacks a payload archive into a folder on the build machine the way the
// extractor unpacks it into tmp-n on Windows: the same entries, zlib1.dll
// written raw and every other entry inflated, nothing outside the folder.
#pragma once

#include <sys/types.h>

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "tools/archive_check.h"
#include "tools/name_layout.h"

// report is InspectArchive's report of the archive: one with a problem is
// refused, so nothing is written from a damaged archive (every stream has
// been inflated once already). The folder is made when missing
// and must otherwise be empty. Backslashes in names become folders. Windows
// folds letter case, so names that differ only in case land in one file or
// folder, spelled as first met, and a later file replaces an earlier one.
// Links are never followed below the folder. When an entry cannot be written
// (a full disk, a write error), the files and folders made so far are
// removed again, the folder itself too when it was made here, and the
// PackError names the entry and the cause. Returns the number of entries.
size_t ExtractArchive(const uint8_t* archive, size_t size, const ArchiveReport& report,
                      const std::filesystem::path& folder);

// The writing step of ExtractArchive, below an open folder (root, a
// descriptor it does not own), with the names of the folders between it and
// each entry's own (prefix). Every step goes through the descriptor of the
// folder above it with O_NOFOLLOW, so a link planted below root is refused,
// never followed, both when writing and when removing.
class FolderWriter {
 public:
  FolderWriter(int root, std::filesystem::path shownAs, std::vector<std::string> prefix = {});

  // Writes one entry where it lands: the bytes as they are (raw), or the
  // inflated stream. A file that is already there is replaced only when an
  // earlier entry made it (landing.replaces). PackError names the file and
  // the cause: the system's, or for a stream zlib's own.
  void Write(const Landing& landing, const uint8_t* data, uint32_t size, bool raw);

  // Removes, newest first, each file and folder that Write made, when it is
  // still that same file or (empty) folder; anything else is left alone.
  void RemoveMade();

 private:
  struct Made {
    std::vector<std::string> path;  // below root
    bool folder;
    dev_t device;
    ino_t inode;
  };
  void Remember(int fd, const std::vector<std::string>& path, bool folder);
  std::string Shown(const std::vector<std::string>& path) const;

  int root_;
  std::filesystem::path shownAs_;
  std::vector<std::string> prefix_;
  std::vector<Made> made_;
};
