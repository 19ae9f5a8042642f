// Walking every file and folder below a folder, the one recursive directory
// walk of the plug-in. A visitor is handed each entry and answers whether to go
// into it, to come back to it later or to stop; the walk can go a few entries
// per step, so that a dialog can spread a large tree over its ticks.
#pragma once
#include <windows.h>

#include <cstddef>
#include <cstdint>

#include "base/folder_listing.h"
#include "base/text.h"

// Each level adds at least "x\" to a path of at most 259 bytes.
constexpr int32_t kMaxTreeDepth = static_cast<int32_t>(kPathSize / 2);

enum WalkAnswer {
  kWalkOn,          // go on with the next entry
  kWalkDescend,     // a folder: visit what it holds (never a folder link: that is kWalkOn)
  kWalkAgainLater,  // end this step; the next one hands out the same entry again
  kWalkStop,        // end the walk at once
};

struct WalkedEntry {
  const char* folder;    // the folder being listed, as its entries are joined to it
  const char* relative;  // the entry below the root; nullptr when root and it do not fit a path buffer
  const char* path;      // the root joined with relative; nullptr likewise
  const WIN32_FIND_DATAA* found;
  LONGLONG fileIndex;  // as the listing reports it (FolderListing::entryIndex)
  int32_t depth;       // 0 for the root's own entries
  int32_t levelTag;  // the tag the folder being listed was entered with
  int32_t childTag;  // with kWalkDescend: the tag the visitor gives the entry's folder
};

// leave (may be null) comes once a folder entered with kWalkDescend, or the
// root, is done (folder then ends with its separator); listed is false, and
// folder is the entry's path, when it could not be listed at all.
struct TreeVisitor {
  WalkAnswer (*visit)(void* context, WalkedEntry* entry);
  void (*leave)(void* context, const char* folder, int32_t tag, bool listed);
  void* context;
};

struct TreeLevel {
  FolderListing listing;
  size_t folderLength;  // of the walk's folder at this level
  int32_t tag;
  char shortName[14];  // the folder's short (8.3) name; "" when its name is the only one
};

struct TreeWalk {
  char folder[kPathSize];  // the root and the relative path of the innermost level
  size_t rootLength = 0;
  TreeLevel levels[kMaxTreeDepth];
  int32_t depth = 0;  // open levels: the innermost is levels[depth - 1]
  bool again = false;
  bool stopped = false;
};

// Opens root (a folder path ending with its separator) as the first level.
// False when it cannot be listed; GetLastError() then tells why.
bool StartTreeWalk(TreeWalk* walk, const char* root, int32_t rootTag);

// Hands out up to maxEntries entries (leaving a folder counts as one). An
// entry whose path (with "\*.*" for a folder) would not fit a path buffer has
// the folders below the root spelt by their short names from then on, where
// that makes it fit. True
// once the walk is over: done, stopped, or never started.
bool StepTreeWalk(TreeWalk* walk, int32_t maxEntries, const TreeVisitor& visitor);

// Closes what is open without visiting the rest; harmless when nothing is.
void EndTreeWalk(TreeWalk* walk);

inline bool IsTreeWalkUnderWay(const TreeWalk* walk) { return walk->depth > 0; }

enum TreeWalkResult { kTreeWalked, kTreeStopped, kTreeUnlisted };

// The whole walk at once, from root with tag 0. On kTreeUnlisted
// GetLastError() tells why.
TreeWalkResult WalkTree(const char* root, const TreeVisitor& visitor);
