#include "support/base64.h"

bool Base64Encode(const uint8_t* data, size_t size, char* out, size_t cap) {
  static const char kAlphabet[] =
      "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  size_t needed = (size + 2) / 3 * 4;
  if (cap == 0) return false;
  if (needed >= cap) {
    out[0] = 0;
    return false;
  }
  size_t o = 0;
  for (size_t i = 0; i < size; i += 3) {
    uint32_t group = static_cast<uint32_t>(data[i]) << 16;
    if (i + 1 < size) group |= static_cast<uint32_t>(data[i + 1]) << 8;
    if (i + 2 < size) group |= data[i + 2];
    out[o++] = kAlphabet[group >> 18 & 63];
    out[o++] = kAlphabet[group >> 12 & 63];
    out[o++] = i + 1 < size ? kAlphabet[group >> 6 & 63] : '=';
    out[o++] = i + 2 < size ? kAlphabet[group & 63] : '=';
  }
  out[o] = 0;
  return true;
}
