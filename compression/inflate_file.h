// Inflates one compressed payload entry (exactly one zlib stream) into its
// open target file, through a 100,000-byte buffer, one write per pass.
#pragma once

#include <windows.h>

#include <cstdint>

const DWORD kInflateBufferSize = 100000;

// Returns the number of bytes written. Raises a CException (after its report)
// when the stream cannot be decoded to its end: the setup program must not
// run from a damaged payload.
int unzipFrom(HANDLE file, const uint8_t* source, int32_t sourceLength);

