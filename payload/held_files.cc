#include "payload/held_files.h"

#include <cstdlib>
#include <cstring>

#include "compression/inflate_file.h"

namespace {

const wchar_t* const kHeldNames[] = {L"zlib1.dll", L"InstallTalvorn.exe",
                                     L"Talvorn Server.exe", L"Launcher.exe"};
const int kHeldCount = sizeof kHeldNames / sizeof kHeldNames[0];

HANDLE held[kHeldCount] = {INVALID_HANDLE_VALUE, INVALID_HANDLE_VALUE,
                           INVALID_HANDLE_VALUE, INVALID_HANDLE_VALUE};

// Windows folds letter case in names, so "installtalvorn.exe" is the file
// that is started.
int HeldIndex(const wchar_t* name) {
  for (int i = 0; i < kHeldCount; ++i) {
    if (CompareStringOrdinal(name, -1, kHeldNames[i], -1, TRUE) == CSTR_EQUAL) {
      return i;
    }
  }
  return -1;
}

bool RawMatches(HANDLE file, const uint8_t* data, uint32_t size) {
  const DWORD kChunk = 65536;
  auto* buffer = static_cast<uint8_t*>(std::malloc(kChunk));
  if (buffer == nullptr) return false;
  uint32_t at = 0;
  bool same = true;
  for (;;) {
    DWORD read = 0;
    if (!ReadFile(file, buffer, kChunk, &read, nullptr)) same = false;
    if (!same || read == 0) break;
    if (read > size - at || std::memcmp(buffer, data + at, read) != 0) {
      same = false;
      break;
    }
    at += read;
  }
  std::free(buffer);
  return same && at == size;
}

}  // namespace

bool IsHeldEntry(const wchar_t* name) { return HeldIndex(name) >= 0; }

Hold HoldWrittenFile(const wchar_t* name, const wchar_t* path, bool raw,
                     const uint8_t* data, uint32_t size, DWORD* error) {
  int index = HeldIndex(name);
  if (index < 0) return Hold::kHeld;
  ReleaseHeldFile(name);
  HANDLE file = CreateFileW(path, GENERIC_READ, FILE_SHARE_READ, nullptr,
                            OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
  if (file == INVALID_HANDLE_VALUE) {
    *error = GetLastError();
    return Hold::kBusy;
  }
  bool same = raw ? RawMatches(file, data, size)
                  : InflatedMatches(file, data, static_cast<int32_t>(size));
  if (!same) {
    CloseHandle(file);
    return Hold::kChanged;
  }
  held[index] = file;
  return Hold::kHeld;
}

void ReleaseHeldFile(const wchar_t* name) {
  int index = HeldIndex(name);
  if (index < 0 || held[index] == INVALID_HANDLE_VALUE) return;
  CloseHandle(held[index]);
  held[index] = INVALID_HANDLE_VALUE;
}

void ReleaseHeldFiles() {
  for (const wchar_t* name : kHeldNames) ReleaseHeldFile(name);
}

bool FileHeld(const wchar_t* name) {
  int index = HeldIndex(name);
  return index >= 0 && held[index] != INVALID_HANDLE_VALUE;
}
