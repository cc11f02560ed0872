#include "support/text.h"

#include <cstdio>
#include <cwchar>

namespace {

template <typename Char>
bool AppendAt(Char* dst, size_t cap, size_t at, const Char* src) {
  if (cap == 0) return false;
  size_t i = 0;
  for (; src[i] != 0; ++i) {
    if (at + i + 1 >= cap) {
      dst[at + i] = 0;
      return false;
    }
    dst[at + i] = src[i];
  }
  dst[at + i] = 0;
  return true;
}

template <typename Char>
size_t Length(const Char* s) {
  size_t n = 0;
  while (s[n] != 0) ++n;
  return n;
}

}  // namespace

bool CopyText(wchar_t* dst, size_t cap, const wchar_t* src) {
  return AppendAt(dst, cap, 0, src);
}
bool CopyText(char* dst, size_t cap, const char* src) {
  return AppendAt(dst, cap, 0, src);
}

bool AppendText(wchar_t* dst, size_t cap, const wchar_t* src) {
  size_t at = Length(dst);
  return at < cap && AppendAt(dst, cap, at, src);
}
bool AppendText(char* dst, size_t cap, const char* src) {
  size_t at = Length(dst);
  return at < cap && AppendAt(dst, cap, at, src);
}

// The runtime's _vsn*printf writes at most the count it is given and leaves the
// text unterminated when it is cut; passing cap - 1 and terminating by hand
// keeps both cases inside the buffer.
bool FormatTextV(wchar_t* dst, size_t cap, const wchar_t* format,
                 va_list args) {
  if (cap == 0) return false;
  int n = _vsnwprintf(dst, cap - 1, format, args);
  dst[cap - 1] = 0;
  return n >= 0;
}

bool FormatTextV(char* dst, size_t cap, const char* format, va_list args) {
  if (cap == 0) return false;
  int n = _vsnprintf(dst, cap - 1, format, args);
  dst[cap - 1] = 0;
  return n >= 0;
}

bool FormatText(wchar_t* dst, size_t cap, const wchar_t* format, ...) {
  va_list args;
  va_start(args, format);
  bool fitted = FormatTextV(dst, cap, format, args);
  va_end(args);
  return fitted;
}

bool FormatText(char* dst, size_t cap, const char* format, ...) {
  va_list args;
  va_start(args, format);
  bool fitted = FormatTextV(dst, cap, format, args);
  va_end(args);
  return fitted;
}

bool WidenCopy(wchar_t* dst, size_t cap, const char* src) {
  if (cap == 0) return false;
  size_t i = 0;
  for (; src[i] != 0; ++i) {
    if (i + 1 >= cap) {
      dst[i] = 0;
      return false;
    }
    dst[i] = static_cast<unsigned char>(src[i]);
  }
  dst[i] = 0;
  return true;
}
