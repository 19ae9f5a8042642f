// CRC-32 (reflected, polynomial 0xEDB88320) of a whole file, and its CRC text.
#pragma once
#include <cstddef>
#include <cstdint>

constexpr size_t kCrcTextSize = 9;  // eight upper-case hex digits and the NUL

// The byte-wise lookup table: entry i is i after eight reflected shift steps
// with 0xEDB88320. Constant data, so nothing has to be built at start-up. It is
// the definition the faster routines below must agree with.
extern const uint32_t kCrcTable[256];

// Continues the CRC of earlier bytes (0 before the first) over size more bytes
// and returns the CRC of all of them: Crc32Update(0, "123456789", 9) is
// 0xCBF43926. Goes through the fastest routine this processor can run, chosen
// on the first call.
uint32_t Crc32Update(uint32_t crc, const void* data, size_t size);

// The routines Crc32Update chooses from, callable directly so the tests and
// the benchmark can force each one. Same contract as Crc32Update.
uint32_t Crc32UpdateBytewise(uint32_t crc, const void* data, size_t size);  // one table step a byte
uint32_t Crc32UpdateSliced(uint32_t crc, const void* data, size_t size);    // sixteen bytes a step
// Carry-less multiplication folding; only when Crc32HasFolding() is true.
uint32_t Crc32UpdateFolded(uint32_t crc, const void* data, size_t size);
// True when the processor has PCLMULQDQ and SSE4.1.
bool Crc32HasFolding();

// Test switch: files are read through views of at most size bytes (rounded up
// to the allocation granularity) instead of 64 MiB; 0, or anything above
// 64 MiB, restores 64 MiB.
void SetCrcViewSizeForTests(size_t size);

// True with *crc set when the file could be read; false after printing why on
// standard error.
bool ComputeFileCrc32(const char* path, uint32_t* crc);
// The file's CRC as CRC text ("0A1B2C3D"). 0 on success; -1 when the CRC could
// not be computed, and text is then empty, never a valid-looking CRC.
int FormatCrcText(const char* path, char* text, size_t textSize);
// A CRC as CRC text; text must hold kCrcTextSize bytes.
void CrcToText(uint32_t crc, char* text, size_t textSize);
