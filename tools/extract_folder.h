// Unpacks a payload archive into a folder on the build machine the way the
// extractor unpacks it into tmp-n on Windows: the same entries, zlib1.dll
// written raw and every other entry inflated, nothing outside the folder.
#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>

#include "tools/archive_check.h"

// report is InspectArchive's report of the archive: one with a problem is
// refused, so nothing is written from a damaged archive (every stream has
// been inflated once already). The folder is made when missing
// and must otherwise be empty. Backslashes in names become folders. Windows
// folds letter case, so names that differ only in case land in one file or
// folder, spelled as first met, and a later file replaces an earlier one.
// Links are never followed below the folder. Returns the number of entries;
// throws PackError.
size_t ExtractArchive(const uint8_t* archive, size_t size, const ArchiveReport& report,
                      const std::filesystem::path& folder);
