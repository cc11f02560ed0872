#pragma once

#include <cstddef>
#include <cstdint>

// Standard Base64 (RFC 4648 alphabet, '=' filling the last group, no line
// breaks) of size bytes into out (cap chars, terminator included). False,
// with out empty, when the text would not fit.
bool Base64Encode(const uint8_t* data, size_t size, char* out, size_t cap);
