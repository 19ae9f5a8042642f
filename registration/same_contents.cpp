#include "registration/same_contents.h"

#include <cstdlib>
#include <cstring>

// CRCs are already well spread: the low bits pick the slot.
static size_t SlotOf(const CrcIndex* index, uint32_t crc) {
  size_t slot = crc & (index->capacity - 1);
  while (index->pathEnds[slot] != 0 && index->crcs[slot] != crc) slot = (slot + 1) & (index->capacity - 1);
  return slot;
}

// Keeps the table at most half full, so that a look-up ends soon.
static bool MakeRoom(CrcIndex* index) {
  if (index->capacity != 0 && (index->count + 1) * 2 <= index->capacity) return true;
  size_t capacity = index->capacity == 0 ? 1024 : index->capacity * 2;
  uint32_t* crcs = static_cast<uint32_t*>(calloc(capacity, sizeof *crcs));
  uint32_t* pathEnds = static_cast<uint32_t*>(calloc(capacity, sizeof *pathEnds));
  if (crcs == nullptr || pathEnds == nullptr) {
    free(crcs);
    free(pathEnds);
    return false;
  }
  CrcIndex grown = *index;
  grown.crcs = crcs;
  grown.pathEnds = pathEnds;
  grown.capacity = capacity;
  for (size_t i = 0; i < index->capacity; ++i) {
    if (index->pathEnds[i] == 0) continue;
    size_t slot = SlotOf(&grown, index->crcs[i]);
    grown.crcs[slot] = index->crcs[i];
    grown.pathEnds[slot] = index->pathEnds[i];
  }
  free(index->crcs);
  free(index->pathEnds);
  *index = grown;
  return true;
}

const char* EarlierPathOfCrc(CrcIndex* index, uint32_t crc, const char* path) {
  if (index->capacity != 0) {
    size_t slot = SlotOf(index, crc);
    if (index->pathEnds[slot] != 0) return index->paths.bytes + index->pathEnds[slot] - 1;
  }
  size_t offset = index->paths.used;
  if (offset >= UINT32_MAX || !MakeRoom(index) || !AppendBytes(&index->paths, path, strlen(path) + 1)) return nullptr;
  size_t slot = SlotOf(index, crc);
  index->crcs[slot] = crc;
  index->pathEnds[slot] = static_cast<uint32_t>(offset + 1);
  ++index->count;
  return nullptr;
}

void ReleaseCrcIndex(CrcIndex* index) {
  free(index->crcs);
  free(index->pathEnds);
  ReleaseBuffer(&index->paths);
  *index = CrcIndex();
}
