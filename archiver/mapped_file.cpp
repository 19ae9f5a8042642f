// Read-only view of a whole archive file.
#include "archiver/archiver.h"

bool OpenMappedFile(const char* path, MappedFile* mapped, Problem* problem) {
  *mapped = MappedFile();
  // FILE_SHARE_READ only: nobody may truncate the file while it is mapped, or
  // reading the view would fault.
  mapped->file =
      CreateFileA(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (mapped->file == INVALID_HANDLE_VALUE) {
    *problem = "cannot open the archive file";
    return false;
  }
  LARGE_INTEGER size;
  if (!GetFileSizeEx(mapped->file, &size) || size.QuadPart < 0) {
    *problem = "cannot read the archive file's size";
    CloseMappedFile(mapped);
    return false;
  }
  mapped->size = static_cast<uint64_t>(size.QuadPart);
  if (mapped->size == 0) return true;  // nothing to map; readers see no signature
  if (mapped->size > SIZE_MAX) {
    *problem = "archive too large";
    CloseMappedFile(mapped);
    return false;
  }
  mapped->mapping = CreateFileMappingA(mapped->file, nullptr, PAGE_READONLY, 0, 0, nullptr);
  if (mapped->mapping != nullptr) {
    mapped->data = static_cast<const uint8_t*>(MapViewOfFile(mapped->mapping, FILE_MAP_READ, 0, 0, 0));
  }
  if (mapped->data == nullptr) {
    *problem = "cannot map the archive file";
    CloseMappedFile(mapped);
    return false;
  }
  return true;
}

void CloseMappedFile(MappedFile* mapped) {
  if (mapped->data != nullptr) UnmapViewOfFile(mapped->data);
  if (mapped->mapping != nullptr) CloseHandle(mapped->mapping);
  if (mapped->file != INVALID_HANDLE_VALUE) CloseHandle(mapped->file);
  *mapped = MappedFile();
}
