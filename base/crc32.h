// CRC-32 (reflected, polynomial 0xEDB88320): the routine chosen for this
// processor.
#pragma once
#include <cstddef>
#include <cstdint>

// Continues the CRC of earlier bytes (0 before the first) over size more bytes
// and returns the CRC of all of them: Crc32Update(0, "123456789", 9) is
// 0xCBF43926. Goes through the fastest routine this processor can run, chosen
// on the first call.
uint32_t Crc32Update(uint32_t crc, const void* data, size_t size);

// The routines Crc32Update chooses from, callable directly so the tests and
// the benchmark can force each one. Same contract as Crc32Update.
uint32_t Crc32UpdateSliced(uint32_t crc, const void* data, size_t size);    // sixteen bytes a step
uint32_t Crc32UpdateBraided(uint32_t crc, const void* data, size_t size);   // five words side by side
// Carry-less multiplication folding; only when Crc32HasFolding() is true.
uint32_t Crc32UpdateFolded(uint32_t crc, const void* data, size_t size);
// True when the processor has PCLMULQDQ and SSE4.1.
bool Crc32HasFolding();
