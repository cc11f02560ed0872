// Turns a folder into the list of files to pack, refusing anything the
// extractor would refuse or unpack wrongly on Windows.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "tools/archive_writer.h"
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

// The finished archive of the items, checked by reading it back.
Bytes PackItems(const std::vector<PackItem>& items);
