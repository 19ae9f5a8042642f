// Taking back what an extraction left in a shared folder (the temp folder):
// the names below the folder are recorded before, and whatever is new
// afterwards is removed, so that nothing there before is removed with it.
#pragma once
#include <cstddef>

#include "base/growable_buffer.h"

// Every file and folder below a folder, as paths relative to it, sorted.
struct FolderSnapshot {
  GrowableBuffer names;    // the relative paths, each ended by a NUL
  GrowableBuffer offsets;  // a size_t per path: where it starts in names, in sorted order
  size_t count = 0;
};

// Records every entry below folder (ending with "\"), recursively. False, with
// an empty snapshot, when the folder cannot be listed or memory runs out: the
// caller must then remove nothing.
bool SnapshotFolder(const char* folder, FolderSnapshot* snapshot);

// Removes every file and folder below folder that the snapshot does not name,
// each new folder with all it holds. Entries of the snapshot stay, with what
// they hold now; a folder link is removed as a link, never followed.
void RemoveAddedEntries(const char* folder, const FolderSnapshot* snapshot);

void ReleaseSnapshot(FolderSnapshot* snapshot);

// Removes path (a folder, with or without a final "\") and everything below
// it; links below it are removed, not followed.
void RemoveFolderTree(const char* path);
