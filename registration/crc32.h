// CRC-32 (reflected, polynomial 0xEDB88320) of a whole file, and its CRC text.
#pragma once
#include <cstddef>
#include <cstdint>

constexpr size_t kCrcTextSize = 9;  // eight upper-case hex digits and the NUL

// The byte-wise lookup table: entry i is i after eight reflected shift steps
// with 0xEDB88320. Constant data, so nothing has to be built at start-up.
extern const uint32_t kCrcTable[256];

// True with *crc set when the file could be read; false after printing why on
// standard error.
bool ComputeFileCrc32(const char* path, uint32_t* crc);
// The file's CRC as CRC text ("0A1B2C3D"). 0 on success; -1 when the CRC could
// not be computed, and text is then empty, never a valid-looking CRC.
int FormatCrcText(const char* path, char* text, size_t textSize);
