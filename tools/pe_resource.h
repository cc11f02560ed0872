// Finds the payload resource (RT_RCDATA 100, any language) in a built
// extractor exe by reading the PE file's own headers and resource directory,
// so the host tools can list, verify and extract a shipped installer without
// running it. Plain C++ over bytes, no platform headers, so it also fuzzes.
//
// The file is trusted no more than a payload archive is (see pe_file.h).
#pragma once

#include <cstddef>
#include <cstdint>

#include "tools/pe_file.h"

enum class PeProblem {
  kNone,
  kNotPe,            // no "MZ" header pointing at a "PE\0\0" signature
  kBadHeaders,       // the headers or the section table do not hold together
  kNoResources,      // no resource directory
  kBadResources,     // the resource directory points outside itself or its file
  kNoPayload,        // no RCDATA 100 in the resource directory
  kPayloadPastEnd,   // RCDATA 100 runs past the end of the file
};

const char* DescribePeProblem(PeProblem problem);

// The Authenticode certificate table (data directory 4). Unlike the other
// directories it is addressed by file offset, and it is not loaded.
enum class SignatureState {
  kNone,
  kPresent,    // a table inside the file, starting with a PKCS#7 signature
  kDamaged,    // a table that runs past the file or holds no such signature
};

const char* DescribeSignatureState(SignatureState state);

struct PeResource {
  PeProblem problem = PeProblem::kNone;
  uint64_t offset = 0;  // of the payload's bytes in the file
  uint64_t size = 0;
  SignatureState signature = SignatureState::kNone;
  uint16_t machine = 0;  // the COFF header's, once the headers are read
};

PeResource FindPayloadResource(const uint8_t* file, size_t size);
