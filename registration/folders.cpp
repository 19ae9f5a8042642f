// Folder collection for the registration run.
#include "registration/folders.h"

#include <windows.h>

#include <cstdlib>
#include <cstring>

#include "base/texts.h"
#include "registration/run_report.h"

static bool ReadIdentity(const char* path, FileIdentity* identity) {
  // A file system without file indexes reports 0: no identity to go by.
  return GetFileIdentity(path, identity) && (identity->indexHigh != 0 || identity->indexLow != 0);
}

static bool IdentityListed(const FolderWalk* walk, const FileIdentity& identity) {
  for (int32_t i = 0; i < walk->count; ++i) {
    if (walk->facts[i].identified && SameIdentity(walk->facts[i].identity, identity)) return true;
  }
  return false;
}

bool AddFolder(FolderWalk* walk, const char* path, RunReport* report) {
  if (walk->count >= kMaxFolders) {
    if (!walk->overflowNoted) NoteSkipped(report, kTextSkipTooManyFolders, path);
    walk->overflowNoted = true;
    return false;
  }
  for (int32_t i = 0; i < walk->count; ++i) {
    if (strcmp(walk->entries[i], path) == 0) return false;
  }
  FileIdentity identity = {};
  bool identified = ReadIdentity(path, &identity);
  if (identified && IdentityListed(walk, identity)) return false;
  char* entry = walk->entries[walk->count];
  // A path that cannot keep its final "\" is refused, never cut.
  if (!CopyText(entry, kPathSize, path) || !EnsureTrailingBackslash(entry, kPathSize)) {
    memset(entry, 0, kPathSize);
    NoteSkipped(report, kTextSkipPathTooLong, path);
    return false;
  }
  walk->facts[walk->count] = {identity, identified, false};
  ++walk->count;
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

// Opens the listing of prefix (a folder and its separator) as the next level.
// A folder that cannot be listed contributes nothing below it; the level table
// bounds the walk whatever the limit says.
static void EnterFolder(FolderWalk* walk, const char* prefix, int32_t listIndex) {
  if (walk->depth >= static_cast<int32_t>(sizeof walk->levels / sizeof walk->levels[0])) return;
  WalkLevel& level = walk->levels[walk->depth];
  if (!CopyText(level.prefix, sizeof level.prefix, prefix) || !OpenListing(&level.listing, prefix)) return;
  level.listIndex = listIndex;
  if (listIndex >= 0) walk->facts[listIndex].countedByWalk = true;
  ++walk->depth;
}

static void LeaveFolder(FolderWalk* walk) {
  --walk->depth;
  CloseListing(&walk->levels[walk->depth].listing);
}

// Looks at the deepest level's next entry; a level with nothing left is closed.
// A subfolder within the limit is added and, unless at the limit, entered at
// once, which keeps the list in depth-first pre-order.
static void WalkOneEntry(FolderWalk* walk, RunReport* report) {
  WalkLevel& level = walk->levels[walk->depth - 1];
  if (!NextListedEntry(&level.listing)) {
    LeaveFolder(walk);
    return;
  }
  const WIN32_FIND_DATAA& entry = level.listing.entry;
  if (!IsFolderEntry(entry)) {
    if (level.listIndex >= 0) ++walk->filesCounted;
    return;
  }
  // Subfolders of this level lie walk->depth levels below the root.
  if (!NameSortsAfterDotDot(entry.cFileName) || walk->depth > walk->depthLimit) return;
  // A subfolder whose own listing pattern would not fit is neither added nor
  // entered: it could not be listed later either.
  char path[kPathSize];
  char childPrefix[kPathSize];
  char childPattern[kPathSize];
  if (!FormatText(path, sizeof path, "%s%s", level.prefix, entry.cFileName) ||
      !FormatText(childPrefix, sizeof childPrefix, "%s\\", path) ||
      !FormatText(childPattern, sizeof childPattern, "%s*.*", childPrefix)) {
    NoteSkippedJoined(report, kTextSkipPathTooLong, level.prefix, entry.cFileName);
    return;
  }
  // At the limit its own subfolders would all be too deep: no need to list it.
  if (AddFolder(walk, path, report) && walk->depth < walk->depthLimit) EnterFolder(walk, childPrefix, walk->count - 1);
}

// Counts the files of one listed folder that the walk did not list.
static void CountFolderFiles(FolderWalk* walk, int32_t index) {
  FolderListing listing;
  if (!OpenListing(&listing, walk->entries[index])) return;
  while (NextListedEntry(&listing)) {
    if (!IsFolderEntry(listing.entry)) ++walk->filesCounted;
  }
  CloseListing(&listing);
}

static void EndWalk(FolderWalk* walk) {
  while (walk->depth > 0) LeaveFolder(walk);
}

int32_t DepthLimitOfChoice(int32_t depthChoice) {
  if (depthChoice < 1) return 0;
  if (depthChoice == 1 || depthChoice - 1 > kAllLevelsLimit) return kAllLevelsLimit;
  return depthChoice - 1;
}

bool BeginFolderWalk(FolderWalk* walk, const char* romFolder, int32_t depthChoice, RunReport* report) {
  ReleaseFolderWalk(walk);
  walk->entries = static_cast<char(*)[kPathSize]>(calloc(kMaxFolders, kPathSize));
  walk->facts = static_cast<FolderFacts*>(calloc(kMaxFolders, sizeof *walk->facts));
  if (walk->entries == nullptr || walk->facts == nullptr) {
    ReleaseFolderWalk(walk);
    return false;
  }
  bool rootListed = AddFolder(walk, romFolder, report);
  walk->depthLimit = DepthLimitOfChoice(depthChoice);
  // The root joins its subfolders with a "\" of its own even when it ends with
  // one (root\\sub\): relation files on disk and the host's records hold
  // subfolder paths spelt so, and a lookup must keep finding them.
  char prefix[kPathSize];
  if (walk->depthLimit > 0 && FormatText(prefix, sizeof prefix, "%s\\", romFolder)) {
    EnterFolder(walk, prefix, rootListed ? 0 : -1);
  }
  return true;
}

bool StepFolderWalk(FolderWalk* walk, int32_t maxEntries, RunReport* report) {
  for (int32_t done = 0; done < maxEntries; ++done) {
    if (walk->depth > 0) {
      WalkOneEntry(walk, report);
    } else if (walk->countIndex < walk->count) {
      if (!walk->facts[walk->countIndex].countedByWalk) CountFolderFiles(walk, walk->countIndex);
      ++walk->countIndex;
    } else {
      break;
    }
  }
  return walk->depth == 0 && walk->countIndex >= walk->count;
}

void ReleaseFolderWalk(FolderWalk* walk) {
  EndWalk(walk);
  free(walk->entries);
  free(walk->facts);
  walk->entries = nullptr;
  walk->facts = nullptr;
  walk->count = walk->countIndex = walk->filesCounted = 0;
  walk->overflowNoted = false;
}
