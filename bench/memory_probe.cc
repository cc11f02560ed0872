#include "bench/memory_probe.h"

#include <psapi.h>

#include <cstdlib>
#include <cstring>

namespace {

HANDLE procStatus = INVALID_HANDLE_VALUE;

bool ContainsText(const char* bytes, DWORD size, const char* text) {
  size_t n = std::strlen(text);
  for (DWORD i = 0; i + n <= size; ++i) {
    if (std::memcmp(bytes + i, text, n) == 0) return true;
  }
  return false;
}

// True when the Linux process pid (a name below Z:\proc) was started with a
// command line holding marker: Wine shows a process's Windows command line
// there.
bool IsProcessWithMarker(const wchar_t* pid, const char* marker) {
  wchar_t path[MAX_PATH];
  wsprintfW(path, L"Z:\\proc\\%s\\cmdline", pid);
  HANDLE file = CreateFileW(path, GENERIC_READ, FILE_SHARE_READ, nullptr,
                            OPEN_EXISTING, 0, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  char bytes[4096];
  DWORD got = 0;
  bool found = ReadFile(file, bytes, sizeof bytes, &got, nullptr) &&
               ContainsText(bytes, got, marker) &&
               ContainsText(bytes, got, "talvorn-bench");
  CloseHandle(file);
  return found;
}

// The value of a "Name:   123 kB" line, in bytes; -1 when it is absent.
double ProcField(const char* text, const char* name) {
  const char* at = std::strstr(text, name);
  if (at == nullptr) return -1;
  return std::strtod(at + std::strlen(name), nullptr) * 1024.0;
}

bool SampleProc(MemorySample* sample) {
  HANDLE status = procStatus;
  if (status == INVALID_HANDLE_VALUE) return false;
  char text[4096];
  OVERLAPPED at = {};  // offset 0
  DWORD got = 0;
  if (!ReadFile(status, text, sizeof text - 1, &got, &at)) return false;
  text[got] = 0;
  sample->privateBytes = ProcField(text, "\nRssAnon:");
  sample->resident = ProcField(text, "\nVmRSS:");
  sample->peakResident = ProcField(text, "\nVmHWM:");
  return sample->privateBytes >= 0 && sample->resident >= 0 &&
         sample->peakResident >= 0;
}

void SamplePsapi(MemorySample* sample) {
  PROCESS_MEMORY_COUNTERS_EX counters = {};
  counters.cb = sizeof counters;
  if (GetProcessMemoryInfo(GetCurrentProcess(),
                           reinterpret_cast<PROCESS_MEMORY_COUNTERS*>(&counters),
                           sizeof counters)) {
    sample->privateBytes = static_cast<double>(counters.PrivateUsage);
    sample->resident = static_cast<double>(counters.WorkingSetSize);
    sample->peakResident = static_cast<double>(counters.PeakWorkingSetSize);
  }
}

}  // namespace

// Wine maps the Linux root to Z:, but it opens files in its server process,
// so Z:\proc\self would be the server: the process is found by its command
// line instead. The file stays open; each read at offset 0 is fresh.
void UseProcStatus(const wchar_t* marker) {
  char marker8[MAX_PATH];
  WideCharToMultiByte(CP_ACP, 0, marker, -1, marker8, MAX_PATH, nullptr, nullptr);
  WIN32_FIND_DATAW found;
  HANDLE search = FindFirstFileW(L"Z:\\proc\\*", &found);
  if (search == INVALID_HANDLE_VALUE) return;
  do {
    const wchar_t* name = found.cFileName;
    if (name[0] < L'0' || name[0] > L'9') continue;
    if (!IsProcessWithMarker(name, marker8)) continue;
    wchar_t path[MAX_PATH];
    wsprintfW(path, L"Z:\\proc\\%s\\status", name);
    procStatus = CreateFileW(path, GENERIC_READ, FILE_SHARE_READ, nullptr,
                             OPEN_EXISTING, 0, nullptr);
    break;
  } while (FindNextFileW(search, &found));
  FindClose(search);
}

const char* MemorySource() {
  return procStatus != INVALID_HANDLE_VALUE ? "proc" : "psapi";
}

MemorySample SampleMemory() {
  MemorySample sample;
  if (!SampleProc(&sample)) {
    sample = MemorySample();
    SamplePsapi(&sample);
  }
  return sample;
}

void PeakSampler::Start() {
  InterlockedExchange(&stop_, 0);
  started_ = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  thread_ = CreateThread(nullptr, 0, Run, this, 0, nullptr);
  // The thread's own stack and bookkeeping are no part of the work measured:
  // the peaks start from the first sample it takes.
  WaitForSingleObject(started_, INFINITE);
  CloseHandle(started_);
  peakPrivate_ = peakResident_ = 0;
  samples_ = 0;
}

void PeakSampler::Stop() {
  InterlockedExchange(&stop_, 1);
  if (thread_ != nullptr) {
    WaitForSingleObject(thread_, INFINITE);
    CloseHandle(thread_);
    thread_ = nullptr;
  }
  Take();  // so that a stretch shorter than one period still counts
}

void PeakSampler::Take() {
  MemorySample now = SampleMemory();
  if (now.privateBytes > peakPrivate_) peakPrivate_ = now.privateBytes;
  if (now.resident > peakResident_) peakResident_ = now.resident;
  ++samples_;
}

DWORD WINAPI PeakSampler::Run(void* self) {
  PeakSampler* sampler = static_cast<PeakSampler*>(self);
  sampler->Take();
  SetEvent(sampler->started_);
  while (!sampler->stop_) {
    sampler->Take();
    Sleep(1);
  }
  return 0;
}
