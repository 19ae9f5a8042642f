// A heap buffer that grows by doubling: the plug-in's one way to collect text
// or records whose number is not known beforehand.
#pragma once
#include <cstddef>

struct GrowableBuffer {
  char* bytes = nullptr;
  size_t used = 0;
  size_t capacity = 0;
};

// Makes room for size more bytes. False, the buffer unchanged, when memory runs out.
bool ReserveBytes(GrowableBuffer* buffer, size_t size);

// Appends size bytes. False, the buffer unchanged, when memory runs out.
bool AppendBytes(GrowableBuffer* buffer, const void* data, size_t size);

// Frees the bytes; the buffer is empty afterwards and may be used again.
void ReleaseBuffer(GrowableBuffer* buffer);
