// The CRC of a whole file read through mapped views: what the benchmark holds
// the in-memory routines against when opening and mapping are counted too.
#pragma once
#include <cstdint>

// True with *crc set when the file could be read; false after saying why on
// standard error.
bool ComputeFileCrc32(const char* path, uint32_t* crc);
