// The process's memory, and its highest value during a stretch of work,
// sampled from a second thread.
//
// Three figures, from the best source at hand:
//  - private: memory that belongs to this process alone and is in use: the
//    heap, zlib's state, any copy of file data. Under Wine on Linux this is
//    RssAnon of /proc/self/status (resident anonymous pages; Wine 8 leaves
//    PrivateUsage at 0); on Windows, PrivateUsage (private commit).
//  - resident: the whole resident set, file-backed pages (mapped DLLs, code
//    touched for the first time) included: VmRSS, or WorkingSetSize.
//  - peakResident: the lifetime high-water mark of resident: VmHWM, or
//    PeakWorkingSetSize.
// The system's file cache is in none of them.
#pragma once

#include <windows.h>

struct MemorySample {
  double privateBytes = 0;
  double resident = 0;
  double peakResident = 0;
};

// Under Wine: reads the Linux status of the process whose command line holds
// marker (and "talvorn-bench") from now on. Elsewhere it finds none.
void UseProcStatus(const wchar_t* marker);

// "proc" or "psapi": where SampleMemory reads.
const char* MemorySource();
MemorySample SampleMemory();

// Polls SampleMemory about every millisecond between Start and Stop; Start
// returns once the sampling thread runs.
class PeakSampler {
 public:
  void Start();
  void Stop();
  double peakPrivate() const { return peakPrivate_; }
  double peakResident() const { return peakResident_; }
  int samples() const { return samples_; }

 private:
  static DWORD WINAPI Run(void* self);
  void Take();

  HANDLE thread_ = nullptr;
  HANDLE started_ = nullptr;
  volatile LONG stop_ = 0;
  double peakPrivate_ = 0;
  double peakResident_ = 0;
  int samples_ = 0;
};
