#include "base/crc32.h"

using CrcRoutine = uint32_t (*)(uint32_t crc, const void* data, size_t size);

// The first call asks the processor once and leaves the answer in the pointer.
// A launch's worker may compute one beside the registration run; a thread racing
// here would store the same value.
static uint32_t ChooseCrcRoutine(uint32_t crc, const void* data, size_t size);
static CrcRoutine crcRoutine = ChooseCrcRoutine;

static uint32_t ChooseCrcRoutine(uint32_t crc, const void* data, size_t size) {
  crcRoutine = Crc32HasFolding() ? Crc32UpdateFolded : Crc32UpdateBraided;
  return crcRoutine(crc, data, size);
}

uint32_t Crc32Update(uint32_t crc, const void* data, size_t size) { return crcRoutine(crc, data, size); }
