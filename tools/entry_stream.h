// The zlib streams the packer stores. Levels 0 to 9 are zlib's own; 10 to 12
// are libdeflate's, whose whole-buffer search makes smaller streams of the
// same format, which the payload's zlib1.dll inflates at the same speed.
#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <string>

#include "tools/archive_writer.h"

const int kDefaultLevel = 12;
const int kMaxZlibLevel = 9;
const int kMaxLevel = 12;

// Larger entries are not held whole: zlib streams them from their file, at
// level 9 or at a lower level asked for.
const uint64_t kWholeEntryLimit = uint64_t{128} << 20;

// The whole file of an entry; PackError naming the entry when it cannot be
// opened or read.
Bytes ReadEntryFile(const std::filesystem::path& path, const std::string& name);

// The stream an entry's file of size bytes is stored as, checked by
// CheckStream: made whole by MakeStream, or above kWholeEntryLimit by
// StreamFile at level (at most 9).
Bytes EntryStream(const std::filesystem::path& path, const std::string& name, uint64_t size,
                  int level);

// The stream of content, whole in memory.
Bytes MakeStream(const uint8_t* data, size_t size, int level);

// The stream of a file read piece by piece, by zlib at level (at most 9),
// checked by inflating it to as many bytes as were read. PackError naming
// the entry when the file cannot be read.
Bytes StreamFile(const std::filesystem::path& path, const std::string& name, int level);

// PackError naming the entry unless the stream inflates with zlib, as the
// extractor inflates it, to exactly the content; without data, to size bytes.
void CheckStream(const Bytes& stream, const uint8_t* data, size_t size, const std::string& name);
