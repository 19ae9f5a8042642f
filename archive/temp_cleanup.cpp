#include "archive/temp_cleanup.h"

#include <windows.h>

#include <climits>
#include <cstdlib>
#include <cstring>

#include "base/folder_listing.h"
#include "base/tree_walk.h"

static const char* const* SortedNames(const FolderSnapshot* snapshot) {
  return reinterpret_cast<const char* const*>(snapshot->sorted.bytes);
}

static bool AddName(FolderSnapshot* snapshot, const char* name) {
  if (!AppendBytes(&snapshot->names, name, strlen(name) + 1)) return false;
  ++snapshot->count;
  return true;
}

// Records each entry by its path relative to the folder. A path too long for a
// path buffer is neither recorded nor, later, removed: what cannot be named is
// left alone either way.
static WalkAnswer RecordEntry(void* context, WalkedEntry* entry) {
  if (entry->path == nullptr) return kWalkOn;
  if (!AddName(static_cast<FolderSnapshot*>(context), entry->relative)) return kWalkStop;
  return kWalkDescend;
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
  TreeWalkResult walked = WalkTree(folder, {RecordEntry, nullptr, snapshot});
  DWORD error = GetLastError();
  // An empty listing, or a folder too long to list, holds nothing to record.
  bool recorded = walked == kTreeWalked ||
                  (walked == kTreeUnlisted && (error == ERROR_FILE_NOT_FOUND || error == ERROR_FILENAME_EXCED_RANGE));
  if (!recorded || !SortNames(snapshot)) {
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

static void EndRemoval(AddedRemoval* removal) {
  EndTreeWalk(&removal->walk);
  ReleaseSnapshot(&removal->before);
  removal->retry = HoldRetry();
  removal->underWay = false;
}

struct RemovalStep {
  AddedRemoval* removal;
  bool wait;  // every hold is waited out at once
};

// A folder's tag says whether it was added: its entries are then all added,
// and it goes itself once emptied. A file another program holds waits for a
// later step, unless this step waits.
static WalkAnswer RemoveEntry(void* context, WalkedEntry* entry) {
  const RemovalStep* step = static_cast<const RemovalStep*>(context);
  AddedRemoval* removal = step->removal;
  // What cannot be named is left alone.
  if (entry->path == nullptr) return kWalkOn;
  bool kept = entry->levelTag == 0 && SnapshotHolds(&removal->before, entry->relative);
  if (IsFolderEntry(*entry->found)) {
    // A link goes as a link, never followed; a kept folder is entered for what was added inside it.
    if (IsFolderLink(entry->found->dwFileAttributes)) {
      if (!kept) RemoveDirectoryA(entry->path);
      return kWalkOn;
    }
    entry->childTag = kept ? 0 : 1;
    return kWalkDescend;
  }
  if (kept) return kWalkOn;
  if (step->wait) {
    DeleteOwnFile(entry->path);
    return kWalkOn;
  }
  if (TryDeleteOwnFile(entry->path, &removal->retry) == kTryLater) return kWalkAgainLater;
  removal->retry = HoldRetry();
  return kWalkOn;
}

static void LeaveFolder(void*, const char* folder, int32_t added, bool) {
  if (!added) return;
  char path[kPathSize];
  if (CopyText(path, sizeof path, folder) && EndsWithBackslash(path)) path[strlen(path) - 1] = '\0';
  RemoveDirectoryA(path);
}

static bool StepRemoval(AddedRemoval* removal, int maxEntries, bool wait) {
  if (!removal->underWay) return true;
  RemovalStep step = {removal, wait};
  if (StepTreeWalk(&removal->walk, maxEntries, {RemoveEntry, LeaveFolder, &step})) EndRemoval(removal);
  return !removal->underWay;
}

void StartRemovingAdded(AddedRemoval* removal, const char* folder, FolderSnapshot* snapshot) {
  FinishRemovingAdded(removal);
  removal->before = *snapshot;
  *snapshot = FolderSnapshot();
  removal->underWay = StartTreeWalk(&removal->walk, folder, 0);
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
