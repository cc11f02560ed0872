// Turns a folder into the list of files to pack, refusing anything the
// extractor would refuse or unpack wrongly on Windows.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "tools/archive_writer.h"
#include "tools/entry_stream.h"
#include "tools/library_check.h"
#include "tools/ordered_jobs.h"
#include "tools/pack_error.h"

struct PackItem {
  std::string name;  // entry name: the relative path with backslashes
  std::filesystem::path path;
  uint64_t size = 0;
};

// Every file below the folder, "zlib1.dll" first and the others sorted
// bytewise. Empty folders are left out: the archive has no directory records.
std::vector<PackItem> CollectFolder(const std::filesystem::path& folder);

// The same files in the order of the list text: one name per line, with
// backslashes or slashes. The list must name every file exactly once.
std::vector<PackItem> OrderByList(const std::vector<PackItem>& items,
                                  const std::string& listText);

struct PackOptions {
  int level = kDefaultLevel;        // see entry_stream.h
  uint16_t machine = kMachineX86;   // the stub's, which zlib1.dll must suit
  unsigned threads = 0;             // 0: one a core
  ProgressSink progress;            // called as entries are done
};

// The finished archive of the items, checked by reading it back. Each
// stream is checked by inflating it before it goes in, and zlib1.dll by
// CheckZlibLibrary before anything is compressed.
Bytes PackItems(const std::vector<PackItem>& items, const PackOptions& options = PackOptions());
