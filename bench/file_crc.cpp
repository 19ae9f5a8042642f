#include "bench/file_crc.h"

#include <windows.h>

#include <cstdio>

#include "base/crc32.h"

// Views of at most this size, so that a large file needs only a bounded piece
// of a 32-bit process's address space at a time.
constexpr DWORD kViewSize = 64u << 20;

static void ReportFailure(const char* call, const char* path, DWORD error) {
  fprintf(stderr, "file_crc: %s(%s) failed: %lu\n", call, path, static_cast<unsigned long>(error));
}

// Read sharing keeps writers out while the views are in use, so the file
// cannot shrink under us.
bool ComputeFileCrc32(const char* path, uint32_t* crc) {
  bool ok = false;
  HANDLE mapping = nullptr;
  LARGE_INTEGER size = {};
  uint32_t value = 0;
  HANDLE file =
      CreateFileA(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) {
    ReportFailure("CreateFileA", path, GetLastError());
    goto done;
  }
  if (!GetFileSizeEx(file, &size) || size.HighPart != 0) {
    ReportFailure("GetFileSizeEx", path, GetLastError());
    goto done;
  }
  // An empty file cannot be mapped; its CRC is that of no bytes.
  if (size.LowPart > 0) {
    mapping = CreateFileMappingA(file, nullptr, PAGE_READONLY, 0, size.LowPart, nullptr);
    if (mapping == nullptr) {
      ReportFailure("CreateFileMappingA", path, GetLastError());
      goto done;
    }
  }
  for (DWORD offset = 0; offset < size.LowPart;) {
    DWORD length = size.LowPart - offset < kViewSize ? size.LowPart - offset : kViewSize;
    const void* view = MapViewOfFile(mapping, FILE_MAP_READ, 0, offset, length);
    if (view == nullptr) {
      ReportFailure("MapViewOfFile", path, GetLastError());
      goto done;
    }
    value = Crc32Update(value, view, length);
    UnmapViewOfFile(view);
    offset += length;
  }
  *crc = value;
  ok = true;

done:
  if (mapping != nullptr) CloseHandle(mapping);
  if (file != INVALID_HANDLE_VALUE) CloseHandle(file);
  return ok;
}
