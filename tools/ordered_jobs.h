// Runs the packer's per-entry work on several threads and hands the results
// back in entry order, so the archive is the same bytes whatever the number
// of threads or the order in which they finish.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>

#include "tools/archive_writer.h"

// Entries, and their bytes before compression, done so far of the totals.
struct PackProgress {
  size_t entries = 0, totalEntries = 0;
  uint64_t bytes = 0, totalBytes = 0;
};
using ProgressSink = std::function<void(const PackProgress&)>;

// The cores this process may run on (its affinity mask), at least 1.
unsigned CoreCount();

struct OrderedJobs {
  size_t count = 0;
  // The bytes job i counts for progress, and at most holds in memory.
  std::function<uint64_t(size_t)> size;
  // Runs on a worker thread; may throw.
  std::function<Bytes(size_t)> run;
  // Runs on the calling thread, for i = 0, 1, ... in turn; may throw.
  std::function<void(size_t, Bytes&&)> take;
};

// Jobs start in order while the ones not yet taken hold at most budget
// bytes (one job always may). The first job to throw, in job order, stops
// the rest and its exception is thrown here once every thread has ended.
// progress, when set, is called on the calling thread as jobs finish.
void RunInOrder(const OrderedJobs& jobs, unsigned threads, uint64_t budget,
                const ProgressSink& progress);
