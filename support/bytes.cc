#include "support/bytes.h"

#include <cstring>

void CopyBytesTerminated(char* dst, uint32_t n, const uint8_t* src) {
  std::memcpy(dst, src, n);
  dst[n] = 0;
}

void ReadU32(uint32_t* dst, const uint8_t* src) {
  *dst = static_cast<uint32_t>(src[0]) | static_cast<uint32_t>(src[1]) << 8 |
         static_cast<uint32_t>(src[2]) << 16 |
         static_cast<uint32_t>(src[3]) << 24;
}
