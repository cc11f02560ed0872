#include "tools/archive_check.h"

#include <zlib.h>

#include "payload/archive.h"
#include "support/bytes.h"
#include "tools/name_layout.h"
#include "tools/name_text.h"

int64_t Inflate(const uint8_t* data, size_t size, std::string* problem,
                const InflateSink& sink) {
  if (size == 0) return 0;
  z_stream stream = {};
  if (inflateInit(&stream) != Z_OK) {
    *problem = "inflateInit failed";
    return -1;
  }
  stream.next_in = const_cast<Bytef*>(data);
  stream.avail_in = static_cast<uInt>(size);
  uint8_t buffer[65536];
  int result;
  bool taken = true;
  do {
    stream.next_out = buffer;
    stream.avail_out = sizeof buffer;
    result = inflate(&stream, Z_NO_FLUSH);
    if (sink && (result == Z_OK || result == Z_STREAM_END)) {
      taken = sink(buffer, sizeof buffer - stream.avail_out);
    }
  } while (result == Z_OK && taken);
  int64_t inflated = static_cast<int64_t>(stream.total_out);
  uInt left = stream.avail_in;
  const char* message = stream.msg;
  inflateEnd(&stream);

  if (!taken) {
    *problem = "the inflated data could not be written";
    return -1;
  }
  if (result == Z_STREAM_END && left == 0) return inflated;
  if (result == Z_STREAM_END) {
    // The extractor inflates until all stored bytes are taken: extra bytes
    // after the end would make it fail.
    *problem = std::to_string(left) + " stored bytes follow the end of the zlib stream";
  } else if (result == Z_BUF_ERROR) {
    *problem = "the zlib stream is cut short";
  } else if (result == Z_DATA_ERROR && message &&
             std::string(message) == "incorrect data check") {
    // Decodes cleanly to its end: a bit flipped in transit or on disk.
    *problem = "the zlib stream's Adler-32 does not match its content";
  } else if (result == Z_NEED_DICT) {
    *problem = "the zlib stream needs a preset dictionary";
  } else {
    *problem = std::string("the zlib stream is damaged (") +
               (message ? message : "inflate error " + std::to_string(result)) + ")";
  }
  return -1;
}

namespace {

void NoteProblem(ArchiveReport* report, const std::string& problem) {
  if (report->problem.empty()) report->problem = problem;
}

// A name that lands on the library's file empties it before it is loaded, so
// every later inflation fails; any other replaced file is only worth a word.
void NoteLanding(ArchiveReport* report, const std::string& label, const Landing& landing) {
  if (!landing.clash.empty()) {
    NoteProblem(report, label + " " + landing.clash);
    return;
  }
  if (landing.replaces < 0) return;
  const EntryInfo& earlier = report->entries[static_cast<size_t>(landing.replaces)];
  const std::string pair = label + " replaces the file of " +
                           EntryLabel(static_cast<size_t>(landing.replaces), earlier.name);
  if (earlier.raw) {
    NoteProblem(report, pair + " (Windows folds letter case): the library would be emptied "
                               "before it is loaded");
  } else {
    report->warnings.push_back(pair);
  }
}

}  // namespace

ArchiveReport InspectArchive(const uint8_t* archive, size_t size, StreamCheck streams) {
  ArchiveReport report;
  if (size < kTrailerSize) {
    report.problem = "the archive is shorter than its 4-byte trailer";
    return report;
  }
  // The extractor keeps offsets as signed 32-bit values.
  if (size > 0x7FFFFFFFu) {
    report.problem = "the archive is 2^31 bytes or more";
    return report;
  }
  const int32_t area = static_cast<int32_t>(size - kTrailerSize);

  ArchiveWalker walker(archive, area);
  ArchiveEntry entry;
  bool rawSeen = false;
  bool compressedSeen = false;
  FoldedLayout layout;
  while (walker.Next(&entry)) {
    EntryInfo info;
    info.name.assign(reinterpret_cast<const char*>(entry.name), entry.nameSize);
    info.raw = IsRawEntryName(entry.name, entry.nameSize);
    info.storedSize = entry.fileSize;
    info.dataOffset = static_cast<uint32_t>(entry.data - archive);
    std::string label = EntryLabel(report.entries.size(), info.name);
    if (info.raw) {
      info.inflatedSize = entry.fileSize;
      if (rawSeen) NoteProblem(&report, label + ": a second raw entry");
      if (compressedSeen) {
        // The library is loaded at the first inflation, so every compressed
        // entry ahead of it would fail.
        NoteProblem(&report, label + ": the raw entry comes after a compressed entry");
      }
      rawSeen = true;
    } else {
      if (streams == StreamCheck::kInflate) {
        std::string problem;
        info.inflatedSize = InflatedSize(entry.data, entry.fileSize, &problem);
        if (!problem.empty()) NoteProblem(&report, label + ": " + problem);
      }
      compressedSeen = true;
    }
    NoteLanding(&report, label, layout.Place(info.name));
    report.entries.push_back(std::move(info));
  }
  if (walker.error() != WalkError::kNone) {
    std::string problem = "entry " + std::to_string(walker.index()) + " at offset " +
                          std::to_string(entry.offset) + ": " +
                          DescribeWalkError(walker.error());
    if (walker.error() == WalkError::kBadName) {
      problem += std::string(" (") + DescribeNameProblem(walker.nameProblem()) + ")";
    }
    NoteProblem(&report, problem);
    report.walkProblem = problem;
    return report;
  }

  uint32_t trailer;
  ReadU32(&trailer, archive + area);
  if (trailer != static_cast<uint32_t>(area)) {
    NoteProblem(&report, "the trailer holds " + std::to_string(trailer) +
                             " but the entry area is " + std::to_string(area) + " bytes");
  }
  if (report.entries.empty()) {
    NoteProblem(&report, "the archive has no entries (the extractor would stop)");
  } else if (!rawSeen) {
    NoteProblem(&report, "there is no raw entry \"zlib1.dll\"");
  }
  return report;
}
