// Byte-level copies used while the payload archive is read. Plain C++ with no
// platform headers, so the archive walk builds natively (fuzzing) as well.
#pragma once

#include <cstdint>

// Copies exactly n bytes and puts a zero byte after them: dst holds n + 1.
void CopyBytesTerminated(char* dst, uint32_t n, const uint8_t* src);

// Reads 4 little-endian bytes at src, which need not be aligned.
void ReadU32(uint32_t* dst, const uint8_t* src);
