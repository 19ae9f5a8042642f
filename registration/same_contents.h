// Files of one run with the same contents: their CRCs, each with the first
// source registered under it, found again in constant time. The sources are
// the relation file's own record of them, named by offset, so that each path
// of a run is kept once.
#pragma once
#include <cstddef>
#include <cstdint>

struct CrcIndex {
  uint32_t* crcs;
  uint32_t* sourceEnds;  // 1 + the offset of the source; 0 marks a free slot
  size_t capacity;       // a power of two, or 0 before the first file
  size_t count;
};

constexpr size_t kNoEarlierSource = SIZE_MAX;

// Notes sourceOffset under crc unless an earlier source has it, whose offset
// then comes back; kNoEarlierSource when crc is new to the run. Out of memory,
// nothing is noted and kNoEarlierSource comes back.
size_t NoteCrcOrFindEarlier(CrcIndex* index, uint32_t crc, size_t sourceOffset);

void ReleaseCrcIndex(CrcIndex* index);
