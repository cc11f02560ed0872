// Judges the payload's zlib1.dll the way the extractor's run-time binding
// will meet it: a DLL the stub's Windows can load, exporting every procedure
// the binding looks up, and, where its header carries a PE checksum, with
// bytes that still sum to it. A damaged library otherwise passes every
// archive check and only fails on the user's machine ("No zip procs 100").
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

// COFF machine values of the two builds of the stub.
const uint16_t kMachineX86 = 0x14C;
const uint16_t kMachineX64 = 0x8664;

// "x86", "x64", or the value in hex.
std::string MachineName(uint16_t machine);
// kMachineX86 or kMachineX64 for "x86" or "x64"; 0 for anything else.
uint16_t ParseMachine(const std::string& name);

// The exports the binding requires; it also looks up gzwrite, but does
// without it.
const std::vector<std::string>& RequiredZlibExports();

// The PE checksum of the file, its own CheckSum field read as 0: 16-bit
// words summed with end-around carry, plus the file's length.
uint32_t PeChecksum(const uint8_t* file, size_t size, uint64_t checksumAt);

// "" when the library is fit for a stub built for machine, else what is
// wrong with it.
std::string CheckZlibLibrary(const uint8_t* file, size_t size, uint16_t machine);
