#include "registration/same_contents.h"

#include <cstdlib>
#include <cstring>

// CRCs are already well spread: the low bits pick the slot.
static size_t SlotOf(const CrcIndex* index, uint32_t crc) {
  size_t slot = crc & (index->capacity - 1);
  while (index->sourceEnds[slot] != 0 && index->crcs[slot] != crc) slot = (slot + 1) & (index->capacity - 1);
  return slot;
}

// Keeps the table at most half full, so that a look-up ends soon.
static bool MakeRoom(CrcIndex* index) {
  if (index->capacity != 0 && (index->count + 1) * 2 <= index->capacity) return true;
  size_t capacity = index->capacity == 0 ? 1024 : index->capacity * 2;
  uint32_t* crcs = static_cast<uint32_t*>(calloc(capacity, sizeof *crcs));
  uint32_t* sourceEnds = static_cast<uint32_t*>(calloc(capacity, sizeof *sourceEnds));
  if (crcs == nullptr || sourceEnds == nullptr) {
    free(crcs);
    free(sourceEnds);
    return false;
  }
  CrcIndex grown = *index;
  grown.crcs = crcs;
  grown.sourceEnds = sourceEnds;
  grown.capacity = capacity;
  for (size_t i = 0; i < index->capacity; ++i) {
    if (index->sourceEnds[i] == 0) continue;
    size_t slot = SlotOf(&grown, index->crcs[i]);
    grown.crcs[slot] = index->crcs[i];
    grown.sourceEnds[slot] = index->sourceEnds[i];
  }
  free(index->crcs);
  free(index->sourceEnds);
  *index = grown;
  return true;
}

size_t NoteCrcOrFindEarlier(CrcIndex* index, uint32_t crc, size_t sourceOffset) {
  if (index->capacity != 0) {
    size_t slot = SlotOf(index, crc);
    if (index->sourceEnds[slot] != 0) return index->sourceEnds[slot] - 1;
  }
  if (sourceOffset >= UINT32_MAX || !MakeRoom(index)) return kNoEarlierSource;
  size_t slot = SlotOf(index, crc);
  index->crcs[slot] = crc;
  index->sourceEnds[slot] = static_cast<uint32_t>(sourceOffset + 1);
  ++index->count;
  return kNoEarlierSource;
}

void ReleaseCrcIndex(CrcIndex* index) {
  free(index->crcs);
  free(index->sourceEnds);
  *index = CrcIndex();
}
