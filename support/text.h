// Bounded string operations over caller-owned fixed buffers. Every one of them
// keeps the destination zero-terminated inside its capacity (in characters,
// terminator included) and cuts a text that would not fit instead of writing
// past the buffer; the result says whether the whole text fitted.
#pragma once

#include <cstdarg>
#include <cstddef>

bool CopyText(wchar_t* dst, size_t cap, const wchar_t* src);
bool CopyText(char* dst, size_t cap, const char* src);
bool AppendText(wchar_t* dst, size_t cap, const wchar_t* src);
bool AppendText(char* dst, size_t cap, const char* src);

// printf-style formatting with the platform's conventions: in a 16-bit format
// %s takes a 16-bit string, in an 8-bit format an 8-bit one.
bool FormatText(wchar_t* dst, size_t cap, const wchar_t* format, ...);
bool FormatText(char* dst, size_t cap, const char* format, ...);
bool FormatTextV(wchar_t* dst, size_t cap, const wchar_t* format, va_list args);
bool FormatTextV(char* dst, size_t cap, const char* format, va_list args);

// Widens an 8-bit text byte by byte: each byte becomes the 16-bit unit of the
// same (unsigned) value, so ASCII stays ASCII and 0x80-0xFF read as Latin-1.
bool WidenCopy(wchar_t* dst, size_t cap, const char* src);
