// Reads a payload archive back the way the extractor would and says whether
// it would unpack completely: used by the packer's "list" and "verify", and
// by the packer on its own output before writing it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

struct EntryInfo {
  std::string name;
  bool raw = false;
  uint32_t storedSize = 0;
  uint32_t dataOffset = 0;    // of the stored bytes, from the archive's start
  int64_t inflatedSize = -1;  // -1 when the stream does not inflate
};

struct ArchiveReport {
  std::vector<EntryInfo> entries;  // every entry the walk could read
  std::string problem;             // the first problem, empty when none
  std::string walkProblem;         // why a broken entry ended the walk early
  // Entries that replace the file of an earlier one (the same name, or one
  // that differs only in letter case): what the extractor does too, but
  // rarely what was meant.
  std::vector<std::string> warnings;
};

// Takes each piece of inflated output; false stops the inflation.
using InflateSink = std::function<bool(const uint8_t* data, size_t size)>;

// Inflates one stored zlib stream, which must end exactly at the end of the
// data with a good Adler-32, handing the output to sink when one is given.
// No stored bytes at all stand for an empty file, as in the extractor.
// Returns the inflated size, or -1 with problem set.
int64_t Inflate(const uint8_t* data, size_t size, std::string* problem,
                const InflateSink& sink);
inline int64_t InflatedSize(const uint8_t* data, size_t size, std::string* problem) {
  return Inflate(data, size, problem, nullptr);
}

// kLayoutOnly skips inflating the streams (their inflatedSize stays -1), for
// the packer, which has inflated each one as it made it.
enum class StreamCheck { kInflate, kLayoutOnly };
ArchiveReport InspectArchive(const uint8_t* archive, size_t size,
                             StreamCheck streams = StreamCheck::kInflate);
