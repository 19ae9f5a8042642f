// Folder collection for the registration run.
#include "registration/folders.h"

#include <windows.h>

#include <cstdlib>
#include <cstring>

#include "base/file_identity.h"
#include "base/texts.h"
#include "registration/skip_list.h"

FolderList gFolders;

// What the walk knows of each list entry beside its path: its identity, so
// that a link back into the tree (or any second name of a folder) is neither
// listed nor entered again, and whether the walk counted its files already.
struct FolderFacts {
  FileIdentity identity;
  bool identified;
  bool countedByWalk;
};

static FolderFacts* folderFacts;  // kMaxFolders entries beside gFolders.entries
static bool overflowNoted;

// One level of the walk: the open search over a listed folder and the entry
// it returned last, not yet looked at.
struct WalkLevel {
  HANDLE search;
  char prefix[kPathSize];  // the listing pattern without its "*.*"
  int32_t listIndex;       // the folder's entry, for its file count
  WIN32_FIND_DATAA pending;
  bool more;  // pending holds an entry
};

static WalkLevel walkLevels[kAllLevelsLimit + 1];
// Open levels: the deepest is walkLevels[walkDepth - 1]. The walk depth of its
// subfolders is walkDepth.
static int32_t walkDepth;
static int32_t walkDepthLimit;
static int32_t countIndex;  // after the walk: next entry whose files to count
static int32_t filesCounted;

static bool ReadIdentity(const char* path, FileIdentity* identity) {
  // A file system without file indexes reports 0: no identity to go by.
  return GetFileIdentity(path, identity) && (identity->indexHigh != 0 || identity->indexLow != 0);
}

static bool IdentityListed(const FileIdentity& identity) {
  for (int32_t i = 0; i < gFolders.count; ++i) {
    if (folderFacts[i].identified && SameIdentity(folderFacts[i].identity, identity)) return true;
  }
  return false;
}

bool AddFolder(const char* path) {
  if (gFolders.entries == nullptr || folderFacts == nullptr) return false;
  if (gFolders.count >= kMaxFolders) {
    if (!overflowNoted) NoteSkipped(kTextSkipTooManyFolders, path);
    overflowNoted = true;
    return false;
  }
  for (int32_t i = 0; i < gFolders.count; ++i) {
    if (strcmp(gFolders.entries[i], path) == 0) return false;
  }
  FileIdentity identity = {};
  bool identified = ReadIdentity(path, &identity);
  if (identified && IdentityListed(identity)) return false;
  char* entry = gFolders.entries[gFolders.count];
  // A path that cannot keep its final "\" is refused, never cut.
  if (!CopyText(entry, kPathSize, path) || !EnsureTrailingBackslash(entry, kPathSize)) {
    memset(entry, 0, kPathSize);
    NoteSkipped(kTextSkipPathTooLong, path);
    return false;
  }
  folderFacts[gFolders.count] = {identity, identified, false};
  ++gFolders.count;
  return true;
}

// The name filter: byte-wise greater than ".." with bytes taken as unsigned, so
// that double-byte names (lead bytes 0x81 and up) pass while ".", "..", and
// names starting with a byte below "." such as "(", "!" or "-" do not.
static bool NameSortsAfterDotDot(const char* name) {
  const unsigned char* a = reinterpret_cast<const unsigned char*>(name);
  const unsigned char* b = reinterpret_cast<const unsigned char*>("..");
  while (*a != 0 && *a == *b) {
    ++a;
    ++b;
  }
  return *a > *b;
}

static bool IsDirectory(const WIN32_FIND_DATAA& entry) {
  return (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

// Opens the listing of pattern ("<folder>\*.*") as the next level. A folder
// that cannot be listed contributes nothing below it.
static void EnterFolder(const char* pattern, int32_t listIndex) {
  WalkLevel& level = walkLevels[walkDepth];
  level.search = FindFirstFileA(pattern, &level.pending);
  if (level.search == INVALID_HANDLE_VALUE) return;
  CopyText(level.prefix, sizeof level.prefix, pattern);
  level.prefix[strlen(level.prefix) - 3] = '\0';
  level.listIndex = listIndex;
  level.more = true;
  if (listIndex >= 0) folderFacts[listIndex].countedByWalk = true;
  ++walkDepth;
}

static void LeaveFolder() {
  --walkDepth;
  FindClose(walkLevels[walkDepth].search);
  walkLevels[walkDepth].search = INVALID_HANDLE_VALUE;
}

// Looks at the deepest level's pending entry and fetches the next one; a
// level with nothing left is closed. A subfolder within the limit is added
// and, unless at the limit, entered at once, which keeps the list in
// depth-first pre-order.
static void WalkOneEntry() {
  WalkLevel& level = walkLevels[walkDepth - 1];
  if (!level.more) {
    LeaveFolder();
    return;
  }
  WIN32_FIND_DATAA entry = level.pending;
  level.more = FindNextFileA(level.search, &level.pending) != 0;
  if (!IsDirectory(entry)) {
    if (level.listIndex >= 0) ++filesCounted;
    return;
  }
  // Subfolders of this level lie walkDepth levels below the root.
  if (!NameSortsAfterDotDot(entry.cFileName) || walkDepth > walkDepthLimit) return;
  // A subfolder whose own listing pattern would not fit is neither added
  // nor entered: it could not be listed later either.
  char path[kPathSize];
  char childPattern[kPathSize];
  if (!FormatText(path, sizeof path, "%s%s", level.prefix, entry.cFileName) ||
      !FormatText(childPattern, sizeof childPattern, "%s\\*.*", path)) {
    NoteSkippedJoined(kTextSkipPathTooLong, level.prefix, entry.cFileName);
    return;
  }
  // At the limit its own subfolders would all be too deep: no need to list it.
  if (AddFolder(path) && walkDepth < walkDepthLimit) EnterFolder(childPattern, gFolders.count - 1);
}

// Counts the files of one listed folder that the walk did not list.
static void CountFolderFiles(int32_t index) {
  char pattern[kPathSize];
  if (!FormatText(pattern, sizeof pattern, "%s*.*", gFolders.entries[index])) return;
  WIN32_FIND_DATAA entry;
  HANDLE search = FindFirstFileA(pattern, &entry);
  if (search == INVALID_HANDLE_VALUE) return;
  do {
    if (!IsDirectory(entry)) ++filesCounted;
  } while (FindNextFileA(search, &entry));
  FindClose(search);
}

static void EndWalk() {
  while (walkDepth > 0) LeaveFolder();
}

static void StartWalk(const char* root, int32_t depthLimit, int32_t rootIndex) {
  EndWalk();
  walkDepthLimit = depthLimit;
  char pattern[kPathSize];
  if (depthLimit > 0 && FormatText(pattern, sizeof pattern, "%s\\*.*", root)) EnterFolder(pattern, rootIndex);
}

void CollectFolders(const char* root, int32_t depthLimit) {
  StartWalk(root, depthLimit, -1);
  while (walkDepth > 0) WalkOneEntry();
}

int32_t DepthLimitOfChoice(int32_t depthChoice) {
  if (depthChoice < 1) return 0;
  if (depthChoice == 1) return kAllLevelsLimit;
  return depthChoice - 1;
}

bool BeginFolderList(const char* romFolder, int32_t depthChoice) {
  EndWalk();
  gFolders.count = 0;
  overflowNoted = false;
  filesCounted = 0;
  countIndex = 0;
  if (gFolders.entries == nullptr) {
    gFolders.entries = static_cast<char(*)[kPathSize]>(calloc(kMaxFolders, kPathSize));
    folderFacts = static_cast<FolderFacts*>(calloc(kMaxFolders, sizeof *folderFacts));
    if (gFolders.entries == nullptr || folderFacts == nullptr) {
      ReleaseFolderList();
      return false;
    }
  }
  bool rootListed = AddFolder(romFolder);
  StartWalk(romFolder, DepthLimitOfChoice(depthChoice), rootListed ? 0 : -1);
  return true;
}

bool StepFolderList(int32_t maxEntries, int32_t* fileCount) {
  for (int32_t done = 0; done < maxEntries; ++done) {
    if (walkDepth > 0) {
      WalkOneEntry();
    } else if (countIndex < gFolders.count) {
      if (!folderFacts[countIndex].countedByWalk) CountFolderFiles(countIndex);
      ++countIndex;
    } else {
      break;
    }
  }
  *fileCount = filesCounted;
  return walkDepth == 0 && countIndex >= gFolders.count;
}

bool BuildFolderList(const char* romFolder, int32_t depthChoice) {
  if (!BeginFolderList(romFolder, depthChoice)) return false;
  int32_t files = 0;
  while (!StepFolderList(1024, &files)) {
  }
  return true;
}

void ReleaseFolderList() {
  EndWalk();
  free(gFolders.entries);
  free(folderFacts);
  gFolders.entries = nullptr;
  folderFacts = nullptr;
  gFolders.count = 0;
}
