// Unpacks the payload archive (resource RT_RCDATA 100 of the extractor) into a
// fresh tmp-n folder beside the extractor: "zlib1.dll" raw first, every other
// entry inflated, each directory of an entry's name made as it is met.
#pragma once

#include <windows.h>

#include <cstdint>

#include "support/held_folder.h"

const size_t kPathSize = 256;  // module, extractor folder, tmp-n, entry paths
const int kPayloadResourceId = 100;

// The module whose resources hold the payload; the entry point sets it.
extern HINSTANCE instanceHandle;

// Opens the log in the extractor's held folder (payload/own_folder.h), makes
// tmp-n and holds it in tempDirectory, and unpacks every entry. Returns the
// entry count (0 for an archive without entries) or -1 when the payload
// resource is missing. Other failures raise a CException.
int ExtractPayload(HeldFolder* tempDirectory);

// The held folder tmp-n was made in, for its removal through it: the
// protected folder, held from its choice on, or the extractor's own.
const HeldFolder& TempDirectoryBase();

// Unpacks the entries of the area [archive, archive + length) into the held
// destDir, each entry made relative to it. Unheld (it could not be made),
// nothing is written, and the first entry fails.
int ExtractFiles(const uint8_t* archive, const HeldFolder& destDir,
                 int32_t length);

// Makes every directory of path whose closing backslash is at or after
// first, relative to the held folder, whose own path ends just before first,
// with the owner descriptor given (null: the default owner).
void CreateEntryDirectories(const HeldFolder& folder, const wchar_t* path,
                            int first, SECURITY_DESCRIPTOR* owner);

int WriteRawData(HANDLE file, const uint8_t* bytes, uint32_t length);
