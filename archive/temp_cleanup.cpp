#include "archive/temp_cleanup.h"

#include <windows.h>

#include <cstdlib>
#include <cstring>

#include "base/folder_listing.h"
#include "base/text.h"

static const size_t* Offsets(const FolderSnapshot* snapshot) {
  return reinterpret_cast<const size_t*>(snapshot->offsets.bytes);
}

static bool AddName(FolderSnapshot* snapshot, const char* name) {
  size_t offset = snapshot->names.used;
  // Room for both first, so that a failure leaves no name without its offset.
  if (!ReserveBytes(&snapshot->offsets, sizeof offset)) return false;
  if (!AppendBytes(&snapshot->names, name, strlen(name) + 1)) return false;
  AppendBytes(&snapshot->offsets, &offset, sizeof offset);
  ++snapshot->count;
  return true;
}

// Adds the entries below folder + relative (relative is "" or ends with "\").
// A path too long for a path buffer is neither recorded nor, later, removed:
// what cannot be named is left alone either way.
static bool RecordFolder(const char* folder, const char* relative, FolderSnapshot* snapshot) {
  char prefix[kPathSize];
  if (!FormatText(prefix, sizeof prefix, "%s%s", folder, relative)) return true;
  FolderListing listing;
  if (!OpenListing(&listing, prefix)) {
    DWORD error = GetLastError();
    return relative[0] != '\0' || error == ERROR_FILE_NOT_FOUND || error == ERROR_FILENAME_EXCED_RANGE;
  }
  bool recorded = true;
  while (recorded && NextListedEntry(&listing)) {
    const WIN32_FIND_DATAA& entry = listing.entry;
    char name[kPathSize];
    if (!FormatText(name, sizeof name, "%s%s", relative, entry.cFileName)) continue;
    recorded = AddName(snapshot, name);
    char child[kPathSize];
    if (recorded && IsFolderEntry(entry) && !IsFolderLink(entry.dwFileAttributes) &&
        FormatText(child, sizeof child, "%s\\", name)) {
      recorded = RecordFolder(folder, child, snapshot);
    }
  }
  CloseListing(&listing);
  return recorded;
}

static const FolderSnapshot* sortingSnapshot;

static int CompareNames(const void* a, const void* b) {
  const char* names = sortingSnapshot->names.bytes;
  return strcmp(names + *static_cast<const size_t*>(a), names + *static_cast<const size_t*>(b));
}

static bool SnapshotHolds(const FolderSnapshot* snapshot, const char* name) {
  const size_t* offsets = Offsets(snapshot);
  size_t low = 0;
  size_t high = snapshot->count;
  while (low < high) {
    size_t middle = low + (high - low) / 2;
    int order = strcmp(snapshot->names.bytes + offsets[middle], name);
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
  *snapshot = FolderSnapshot();
  if (!RecordFolder(folder, "", snapshot)) {
    ReleaseSnapshot(snapshot);
    return false;
  }
  if (snapshot->count == 0) return true;
  sortingSnapshot = snapshot;
  qsort(snapshot->offsets.bytes, snapshot->count, sizeof(size_t), CompareNames);
  sortingSnapshot = nullptr;
  return true;
}

void ReleaseSnapshot(FolderSnapshot* snapshot) {
  ReleaseBuffer(&snapshot->names);
  ReleaseBuffer(&snapshot->offsets);
  snapshot->count = 0;
}

// Read-only files (an archive may carry the attribute) cannot be deleted as they are.
static void DeletePlainFile(const char* path, DWORD attributes) {
  if (attributes & FILE_ATTRIBUTE_READONLY) SetFileAttributesA(path, attributes & ~FILE_ATTRIBUTE_READONLY);
  DeleteFileA(path);
}

// Empties folder (ending with "\") and everything below it.
static void EmptyFolder(const char* folder) {
  FolderListing listing;
  if (!OpenListing(&listing, folder)) return;
  while (NextListedEntry(&listing)) {
    const WIN32_FIND_DATAA& entry = listing.entry;
    char path[kPathSize];
    if (!FormatText(path, sizeof path, "%s%s", folder, entry.cFileName)) continue;
    if (!IsFolderEntry(entry)) {
      DeletePlainFile(path, entry.dwFileAttributes);
      continue;
    }
    char child[kPathSize];
    if (!IsFolderLink(entry.dwFileAttributes) && FormatText(child, sizeof child, "%s\\", path)) EmptyFolder(child);
    RemoveDirectoryA(path);
  }
  CloseListing(&listing);
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
  char prefix[kPathSize];
  if (!FormatText(prefix, sizeof prefix, "%s%s", folder, relative)) return;
  FolderListing listing;
  if (!OpenListing(&listing, prefix)) return;
  while (NextListedEntry(&listing)) {
    const WIN32_FIND_DATAA& entry = listing.entry;
    char name[kPathSize];
    char path[kPathSize];
    if (!FormatText(name, sizeof name, "%s%s", relative, entry.cFileName) ||
        !FormatText(path, sizeof path, "%s%s", folder, name)) {
      continue;
    }
    if (SnapshotHolds(snapshot, name)) {
      // It was there before; only what was added inside it goes.
      char child[kPathSize];
      if (IsFolderEntry(entry) && !IsFolderLink(entry.dwFileAttributes) &&
          FormatText(child, sizeof child, "%s\\", name)) {
        RemoveAddedBelow(folder, child, snapshot);
      }
    } else if (IsFolderEntry(entry)) {
      RemoveFolderTree(path);
    } else {
      DeletePlainFile(path, entry.dwFileAttributes);
    }
  }
  CloseListing(&listing);
}

void RemoveAddedEntries(const char* folder, const FolderSnapshot* snapshot) { RemoveAddedBelow(folder, "", snapshot); }
