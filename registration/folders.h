// The folders of one registration run: the ROM folder and, by the depth choice,
// its subfolders in depth-first pre-order. The walk can be done in pieces, so
// that the run's dialog keeps answering while a large tree is listed.
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
// holds path exactly as given or the same folder under another name, or the
// entry would not fit a path buffer. True when it was appended.
bool AddFolder(const char* path);

// Adds every subfolder of root down to depthLimit levels (1: root's own
// subfolders only). Names sorting at or below ".." are skipped with their
// subtrees; so is a folder too long to be listed itself, and a folder already
// listed under another path (a link back into the tree).
void CollectFolders(const char* root, int32_t depthLimit);

// The walk limit for a depth choice: 0 for the root only, 100 for "all".
int32_t DepthLimitOfChoice(int32_t depthChoice);

// Starts the run's list: count 0, the list allocated if absent, the root; the
// walk by depthChoice and the count of files in the listed folders follow in
// StepFolderList. False when the list could not be allocated.
bool BeginFolderList(const char* romFolder, int32_t depthChoice);

// Does up to about maxEntries directory entries of the walk and the count.
// True once the list is complete; *fileCount then holds the files (entries
// without the directory attribute) of every listed folder.
bool StepFolderList(int32_t maxEntries, int32_t* fileCount);

// BeginFolderList and every step at once.
bool BuildFolderList(const char* romFolder, int32_t depthChoice);

// Frees the list and ends a walk in progress; harmless when already absent.
void ReleaseFolderList();
