// The folders of one registration run: the ROM folder and, by the depth choice,
// its subfolders in depth-first pre-order.
#pragma once
#include <cstdint>

#include "base/text.h"

constexpr int32_t kMaxFolders = 10000;  // the root included
// The walk limit of the depth choice "全て" (all levels).
constexpr int32_t kAllLevelsLimit = 100;

// One heap allocation of kMaxFolders path buffers, zero-filled when made; each
// entry in use is a folder path ending with "\". Absent (null) between runs.
struct FolderList {
  char (*entries)[kPathSize];
  int32_t count;
};

extern FolderList gFolders;

// Appends path (and a trailing "\") unless the list is absent or full, already
// holds path exactly as given, or the entry would not fit a path buffer.
void AddFolder(const char* path);

// Adds every subfolder of root down to depthLimit levels (1: root's own
// subfolders only). Names sorting at or below ".." are skipped with their
// subtrees; so is a folder too long to be listed itself.
void CollectFolders(const char* root, int32_t depthLimit);

// The walk limit for a depth choice: 0 for the root only, 100 for "all".
int32_t DepthLimitOfChoice(int32_t depthChoice);

// Builds the run's list: count 0, the list allocated if absent, the root, then
// the walk by depthChoice. False when the list could not be allocated.
bool BuildFolderList(const char* romFolder, int32_t depthChoice);

// Frees the list and marks it absent; harmless when already absent.
void ReleaseFolderList();
