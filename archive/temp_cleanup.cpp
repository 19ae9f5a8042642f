#include "archive/temp_cleanup.h"

#include <windows.h>

#include <cstdlib>
#include <cstring>

#include "base/text.h"

static bool IsDotEntry(const char* name) { return strcmp(name, ".") == 0 || strcmp(name, "..") == 0; }

// A link or junction to a folder: its target is not ours to walk or empty.
static bool IsFolderLink(DWORD attributes) {
  return (attributes & FILE_ATTRIBUTE_DIRECTORY) && (attributes & FILE_ATTRIBUTE_REPARSE_POINT);
}

static bool AddName(FolderSnapshot* snapshot, const char* name) {
  size_t length = strlen(name) + 1;
  if (snapshot->used + length > snapshot->capacity) {
    size_t capacity = snapshot->capacity == 0 ? 4096 : snapshot->capacity * 2;
    while (capacity < snapshot->used + length) capacity *= 2;
    char* names = static_cast<char*>(realloc(snapshot->names, capacity));
    if (names == nullptr) return false;
    snapshot->names = names;
    snapshot->capacity = capacity;
  }
  if (snapshot->count == snapshot->offsetCapacity) {
    size_t capacity = snapshot->offsetCapacity == 0 ? 256 : snapshot->offsetCapacity * 2;
    size_t* offsets = static_cast<size_t*>(realloc(snapshot->offsets, capacity * sizeof *offsets));
    if (offsets == nullptr) return false;
    snapshot->offsets = offsets;
    snapshot->offsetCapacity = capacity;
  }
  memcpy(snapshot->names + snapshot->used, name, length);
  snapshot->offsets[snapshot->count++] = snapshot->used;
  snapshot->used += length;
  return true;
}

// Adds the entries below folder + relative (relative is "" or ends with "\").
// A path too long for a path buffer is neither recorded nor, later, removed:
// what cannot be named is left alone either way.
static bool RecordFolder(const char* folder, const char* relative, FolderSnapshot* snapshot) {
  char pattern[kPathSize];
  if (!FormatText(pattern, sizeof pattern, "%s%s*", folder, relative)) return true;
  WIN32_FIND_DATAA entry;
  HANDLE search = FindFirstFileA(pattern, &entry);
  if (search == INVALID_HANDLE_VALUE) return relative[0] != '\0' || GetLastError() == ERROR_FILE_NOT_FOUND;
  bool recorded = true;
  do {
    if (IsDotEntry(entry.cFileName)) continue;
    char name[kPathSize];
    if (!FormatText(name, sizeof name, "%s%s", relative, entry.cFileName)) continue;
    if (!AddName(snapshot, name)) {
      recorded = false;
      break;
    }
    bool isFolder = (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
    if (isFolder && !IsFolderLink(entry.dwFileAttributes)) {
      char child[kPathSize];
      if (FormatText(child, sizeof child, "%s\\", name) && !RecordFolder(folder, child, snapshot)) {
        recorded = false;
        break;
      }
    }
  } while (FindNextFileA(search, &entry));
  FindClose(search);
  return recorded;
}

static const FolderSnapshot* sortingSnapshot;

static int CompareNames(const void* a, const void* b) {
  const char* names = sortingSnapshot->names;
  return strcmp(names + *static_cast<const size_t*>(a), names + *static_cast<const size_t*>(b));
}

static bool SnapshotHolds(const FolderSnapshot* snapshot, const char* name) {
  size_t low = 0;
  size_t high = snapshot->count;
  while (low < high) {
    size_t middle = low + (high - low) / 2;
    int order = strcmp(snapshot->names + snapshot->offsets[middle], name);
    if (order == 0) return true;
    if (order < 0) {
      low = middle + 1;
    } else {
      high = middle;
    }
  }
  return false;
}

bool SnapshotFolder(const char* folder, FolderSnapshot* snapshot) {
  memset(snapshot, 0, sizeof *snapshot);
  if (!RecordFolder(folder, "", snapshot)) {
    ReleaseSnapshot(snapshot);
    return false;
  }
  sortingSnapshot = snapshot;
  qsort(snapshot->offsets, snapshot->count, sizeof *snapshot->offsets, CompareNames);
  sortingSnapshot = nullptr;
  return true;
}

void ReleaseSnapshot(FolderSnapshot* snapshot) {
  free(snapshot->names);
  free(snapshot->offsets);
  memset(snapshot, 0, sizeof *snapshot);
}

// Read-only files (an archive may carry the attribute) cannot be deleted as they are.
static void DeletePlainFile(const char* path, DWORD attributes) {
  if (attributes & FILE_ATTRIBUTE_READONLY) SetFileAttributesA(path, attributes & ~FILE_ATTRIBUTE_READONLY);
  DeleteFileA(path);
}

// Empties folder (ending with "\") and everything below it.
static void EmptyFolder(const char* folder) {
  char pattern[kPathSize];
  if (!FormatText(pattern, sizeof pattern, "%s*", folder)) return;
  WIN32_FIND_DATAA entry;
  HANDLE search = FindFirstFileA(pattern, &entry);
  if (search == INVALID_HANDLE_VALUE) return;
  do {
    if (IsDotEntry(entry.cFileName)) continue;
    char path[kPathSize];
    if (!FormatText(path, sizeof path, "%s%s", folder, entry.cFileName)) continue;
    if (!(entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) {
      DeletePlainFile(path, entry.dwFileAttributes);
    } else {
      if (!IsFolderLink(entry.dwFileAttributes)) {
        char child[kPathSize];
        if (FormatText(child, sizeof child, "%s\\", path)) EmptyFolder(child);
      }
      RemoveDirectoryA(path);
    }
  } while (FindNextFileA(search, &entry));
  FindClose(search);
}

void RemoveFolderTree(const char* path) {
  char folder[kPathSize];
  if (!CopyText(folder, sizeof folder, path)) return;
  DWORD attributes = GetFileAttributesA(folder);
  if (attributes == INVALID_FILE_ATTRIBUTES || !(attributes & FILE_ATTRIBUTE_DIRECTORY)) return;
  if (!IsFolderLink(attributes) && EnsureTrailingBackslash(folder, sizeof folder)) EmptyFolder(folder);
  RemoveDirectoryA(path);
}

static void RemoveAddedBelow(const char* folder, const char* relative, const FolderSnapshot* snapshot) {
  char pattern[kPathSize];
  if (!FormatText(pattern, sizeof pattern, "%s%s*", folder, relative)) return;
  WIN32_FIND_DATAA entry;
  HANDLE search = FindFirstFileA(pattern, &entry);
  if (search == INVALID_HANDLE_VALUE) return;
  do {
    if (IsDotEntry(entry.cFileName)) continue;
    char name[kPathSize];
    char path[kPathSize];
    if (!FormatText(name, sizeof name, "%s%s", relative, entry.cFileName) ||
        !FormatText(path, sizeof path, "%s%s", folder, name)) {
      continue;
    }
    bool isFolder = (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
    if (SnapshotHolds(snapshot, name)) {
      // It was there before; only what was added inside it goes.
      char child[kPathSize];
      if (isFolder && !IsFolderLink(entry.dwFileAttributes) && FormatText(child, sizeof child, "%s\\", name)) {
        RemoveAddedBelow(folder, child, snapshot);
      }
    } else if (isFolder) {
      RemoveFolderTree(path);
    } else {
      DeletePlainFile(path, entry.dwFileAttributes);
    }
  } while (FindNextFileA(search, &entry));
  FindClose(search);
}

void RemoveAddedEntries(const char* folder, const FolderSnapshot* snapshot) { RemoveAddedBelow(folder, "", snapshot); }
