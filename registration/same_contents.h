// Files of one run with the same contents: their CRCs, each with the first
// source path registered under it, found again in constant time.
#pragma once
#include <cstddef>
#include <cstdint>

#include "base/growable_buffer.h"

struct CrcIndex {
  uint32_t* crcs;
  uint32_t* pathEnds;  // 1 + the offset of the path in paths; 0 marks a free slot
  size_t capacity;     // a power of two, or 0 before the first file
  size_t count;
  GrowableBuffer paths;  // the paths, each ended by a NUL
};

// The path registered earlier in the run under crc, or nullptr after noting
// path under it. Out of memory, nothing is noted and nullptr comes back.
const char* EarlierPathOfCrc(CrcIndex* index, uint32_t crc, const char* path);

void ReleaseCrcIndex(CrcIndex* index);
