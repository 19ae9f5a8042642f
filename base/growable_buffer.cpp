#include "base/growable_buffer.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>

bool ReserveBytes(GrowableBuffer* buffer, size_t size) {
  if (size > SIZE_MAX - buffer->used) return false;
  size_t need = buffer->used + size;
  if (need <= buffer->capacity) return true;
  size_t capacity = buffer->capacity == 0 ? 4096 : buffer->capacity;
  while (capacity < need) {
    if (capacity > SIZE_MAX / 2) return false;
    capacity *= 2;
  }
  char* grown = static_cast<char*>(realloc(buffer->bytes, capacity));
  if (grown == nullptr) return false;
  buffer->bytes = grown;
  buffer->capacity = capacity;
  return true;
}

bool AppendBytes(GrowableBuffer* buffer, const void* data, size_t size) {
  if (!ReserveBytes(buffer, size)) return false;
  if (size > 0) memcpy(buffer->bytes + buffer->used, data, size);
  buffer->used += size;
  return true;
}

void ReleaseBuffer(GrowableBuffer* buffer) {
  free(buffer->bytes);
  *buffer = GrowableBuffer();
}
