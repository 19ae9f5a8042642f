#include "archive/temp_cleanup.h"

#include <windows.h>

#include <climits>
#include <cstdlib>
#include <cstring>

#include "base/folder_listing.h"

static const char* const* SortedNames(const FolderSnapshot* snapshot) {
  return reinterpret_cast<const char* const*>(snapshot->sorted.bytes);
}

static bool AddName(FolderSnapshot* snapshot, const char* name) {
  if (!AppendBytes(&snapshot->names, name, strlen(name) + 1)) return false;
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

static int CompareNames(const void* a, const void* b) {
  return strcmp(*static_cast<const char* const*>(a), *static_cast<const char* const*>(b));
}

// Points into names only once they are all recorded: the buffer moves as it grows.
static bool SortNames(FolderSnapshot* snapshot) {
  if (snapshot->count == 0) return true;
  if (!ReserveBytes(&snapshot->sorted, snapshot->count * sizeof(const char*))) return false;
  const char** sorted = reinterpret_cast<const char**>(snapshot->sorted.bytes);
  const char* name = snapshot->names.bytes;
  for (size_t i = 0; i < snapshot->count; ++i) {
    sorted[i] = name;
    name += strlen(name) + 1;
  }
  snapshot->sorted.used = snapshot->count * sizeof(const char*);
  qsort(sorted, snapshot->count, sizeof *sorted, CompareNames);
  return true;
}

static bool SnapshotHolds(const FolderSnapshot* snapshot, const char* name) {
  const char* const* sorted = SortedNames(snapshot);
  size_t low = 0;
  size_t high = snapshot->count;
  while (low < high) {
    size_t middle = low + (high - low) / 2;
    int order = strcmp(sorted[middle], name);
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
  if (!RecordFolder(folder, "", snapshot) || !SortNames(snapshot)) {
    ReleaseSnapshot(snapshot);
    return false;
  }
  return true;
}

void ReleaseSnapshot(FolderSnapshot* snapshot) {
  ReleaseBuffer(&snapshot->names);
  ReleaseBuffer(&snapshot->sorted);
  snapshot->count = 0;
}

// One folder being listed by a removal.
struct RemovalLevel {
  FolderListing listing;
  size_t relativeLength;  // of the removal's relative path at this level
  bool added;             // not there before: removed itself once emptied
};

static RemovalLevel* Innermost(AddedRemoval* removal) {
  return reinterpret_cast<RemovalLevel*>(removal->levels.bytes + removal->levels.used - sizeof(RemovalLevel));
}

static void EndRemoval(AddedRemoval* removal) {
  while (removal->levels.used >= sizeof(RemovalLevel)) {
    CloseListing(&Innermost(removal)->listing);
    removal->levels.used -= sizeof(RemovalLevel);
  }
  ReleaseBuffer(&removal->levels);
  ReleaseSnapshot(&removal->before);
  removal->retry = HoldRetry();
  removal->held = false;
  removal->underWay = false;
}

// Opens folder + relative (relative is "" or ends with "\") as the innermost
// level; false when it cannot be listed or memory runs out.
static bool EnterLevel(AddedRemoval* removal, const char* relative, bool added) {
  char prefix[kPathSize];
  if (!FormatText(prefix, sizeof prefix, "%s%s", removal->folder, relative)) return false;
  RemovalLevel level;
  level.relativeLength = strlen(relative);
  level.added = added;
  if (!OpenListing(&level.listing, prefix)) return false;
  if (!AppendBytes(&removal->levels, &level, sizeof level)) {
    CloseListing(&level.listing);
    return false;
  }
  CopyText(removal->relative, sizeof removal->relative, relative);
  return true;
}

// The innermost level is done: an added folder goes with it.
static void LeaveLevel(AddedRemoval* removal) {
  RemovalLevel* level = Innermost(removal);
  CloseListing(&level->listing);
  bool added = level->added;
  removal->levels.used -= sizeof(RemovalLevel);
  char path[kPathSize];
  if (added && FormatText(path, sizeof path, "%s%.*s", removal->folder, static_cast<int>(strlen(removal->relative) - 1),
                          removal->relative)) {
    RemoveDirectoryA(path);
  }
  if (removal->levels.used == 0) {
    EndRemoval(removal);
    return;
  }
  removal->relative[Innermost(removal)->relativeLength] = '\0';
}

// One entry of the innermost level. False when another program holds the file
// and it waits for a later try; waiting, every hold is waited out here.
static bool RemoveEntry(AddedRemoval* removal, const WIN32_FIND_DATAA& entry, bool inAdded, bool wait) {
  char name[kPathSize];
  char path[kPathSize];
  // What cannot be named is left alone.
  if (!FormatText(name, sizeof name, "%s%s", removal->relative, entry.cFileName) ||
      !FormatText(path, sizeof path, "%s%s", removal->folder, name)) {
    return true;
  }
  bool kept = !inAdded && SnapshotHolds(&removal->before, name);
  if (IsFolderEntry(entry)) {
    // A kept folder is entered for what was added inside it; a link is never followed.
    char child[kPathSize];
    bool entered = !IsFolderLink(entry.dwFileAttributes) && FormatText(child, sizeof child, "%s\\", name) &&
                   EnterLevel(removal, child, !kept);
    if (!entered && !kept) RemoveDirectoryA(path);
    return true;
  }
  if (kept) return true;
  if (wait) {
    DeleteOwnFile(path);
    removal->held = false;
    return true;
  }
  removal->held = TryDeleteOwnFile(path, &removal->retry) == kTryLater;
  if (!removal->held) removal->retry = HoldRetry();
  return !removal->held;
}

static bool StepRemoval(AddedRemoval* removal, int maxEntries, bool wait) {
  for (int entries = 0; removal->underWay && entries < maxEntries; ++entries) {
    RemovalLevel* level = Innermost(removal);
    if (!removal->held && !NextListedEntry(&level->listing)) {
      LeaveLevel(removal);
      continue;
    }
    // Copied: entering a folder may move the levels.
    WIN32_FIND_DATAA entry = level->listing.entry;
    if (!RemoveEntry(removal, entry, level->added, wait)) return false;
  }
  return !removal->underWay;
}

void StartRemovingAdded(AddedRemoval* removal, const char* folder, FolderSnapshot* snapshot) {
  FinishRemovingAdded(removal);
  removal->before = *snapshot;
  *snapshot = FolderSnapshot();
  removal->underWay = CopyText(removal->folder, sizeof removal->folder, folder) && EnterLevel(removal, "", false);
  if (!removal->underWay) EndRemoval(removal);
}

bool StepRemovingAdded(AddedRemoval* removal, int maxEntries) { return StepRemoval(removal, maxEntries, false); }

void FinishRemovingAdded(AddedRemoval* removal) {
  while (removal->underWay) StepRemoval(removal, INT_MAX, true);
}

void RemoveFolderTree(const char* path) {
  char folder[kPathSize];
  if (!CopyText(folder, sizeof folder, path)) return;
  DWORD attributes = GetFileAttributesA(folder);
  if (attributes == INVALID_FILE_ATTRIBUTES || !(attributes & FILE_ATTRIBUTE_DIRECTORY)) return;
  if (!IsFolderLink(attributes) && EnsureTrailingBackslash(folder, sizeof folder)) {
    // Nothing recorded: everything below goes.
    AddedRemoval removal;
    FolderSnapshot nothing;
    StartRemovingAdded(&removal, folder, &nothing);
    FinishRemovingAdded(&removal);
  }
  RemoveDirectoryA(path);
}
