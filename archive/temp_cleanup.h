// Taking back what an extraction left in a shared folder (the temp folder):
// the names below the folder are recorded before, and whatever is new
// afterwards is removed, so that nothing there before is removed with it.
#pragma once
#include <cstddef>

#include "base/growable_buffer.h"
#include "base/held_files.h"
#include "base/text.h"
#include "base/tree_walk.h"

// Every file and folder below a folder, as paths relative to it, sorted.
struct FolderSnapshot {
  GrowableBuffer names;   // the relative paths, each ended by a NUL
  GrowableBuffer sorted;  // a const char* into names per path, in sorted order
  size_t count = 0;
};

// Records every entry below folder (ending with "\"), recursively. False, with
// an empty snapshot, when the folder cannot be listed or memory runs out: the
// caller must then remove nothing.
bool SnapshotFolder(const char* folder, FolderSnapshot* snapshot);

void ReleaseSnapshot(FolderSnapshot* snapshot);

// A removal of every file and folder below a folder that its snapshot does not
// name, a few entries per step, so that a dialog can spread a large one over
// its ticks. Entries of the snapshot stay, with what they hold now; a folder
// link is removed as a link, never followed.
struct AddedRemoval {
  FolderSnapshot before;
  TreeWalk walk;         // a folder's tag: 1 when it was added
  HoldRetry retry = {};  // of the file another program holds, tried again when due
  bool underWay = false;
};

// Starts removing what is below folder (ending with "\") and not in *snapshot,
// which the removal takes over (it is left empty). A removal still under way
// is finished first.
void StartRemovingAdded(AddedRemoval* removal, const char* folder, FolderSnapshot* snapshot);

// Removes up to maxEntries entries, each file tried once, one that another
// program holds again on a later step. True when nothing is left to do.
bool StepRemovingAdded(AddedRemoval* removal, int maxEntries);

// Does the rest at once, waiting out holds; harmless when nothing is under way.
void FinishRemovingAdded(AddedRemoval* removal);

// Removes path (a folder, with or without a final "\") and everything below
// it; links below it are removed, not followed.
void RemoveFolderTree(const char* path);
