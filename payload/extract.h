// Unpacks the payload archive (resource RT_RCDATA 100 of the extractor) into a
// fresh tmp-n folder beside the extractor: "zlib1.dll" raw first, every other
// entry inflated, each directory of an entry's name made as it is met.
#pragma once

#include <windows.h>

#include <cstdint>

const size_t kPathSize = 256;  // module, extractor folder, tmp-n, entry paths
const int kPayloadResourceId = 100;

// The module whose resources hold the payload; the entry point sets it.
extern HINSTANCE instanceHandle;

// Fills both buffers (kPathSize units each), opens the log and unpacks every
// entry. Returns the entry count (0 for an archive without entries) or -1
// when the payload resource is missing. Other failures raise a CException.
int ExtractPayload(wchar_t* tempDirectory, wchar_t* extractorFolder);

// Unpacks the entries of the area [archive, archive + length) into destDir.
int ExtractFiles(const uint8_t* archive, const wchar_t* destDir,
                 int32_t length);

// Makes every directory of path whose closing backslash is at or after first.
void CreateEntryDirectories(const wchar_t* path, int first);

int WriteRawData(HANDLE file, const uint8_t* bytes, uint32_t length);
