// Folder collection for the registration run.
#include "registration/folders.h"

#include <windows.h>

#include <cstdlib>
#include <cstring>

#include "base/texts.h"
#include "registration/run_report.h"

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
  bool identified = GetIndexedIdentity(path, &identity);
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

struct WalkStep {
  FolderWalk* walk;
  RunReport* report;
};

// A subfolder within the limit is added and, unless at the limit, entered at
// once, which keeps the list in depth-first pre-order.
static WalkAnswer WalkOneEntry(void* context, WalkedEntry* entry) {
  FolderWalk* walk = static_cast<WalkStep*>(context)->walk;
  RunReport* report = static_cast<WalkStep*>(context)->report;
  const char* name = entry->found->cFileName;
  if (!IsFolderEntry(*entry->found)) {
    if (entry->levelTag >= 0) ++walk->filesCounted;
    return kWalkOn;
  }
  // Subfolders of this level lie depth + 1 levels below the root.
  int32_t depth = entry->depth + 1;
  if (!NameSortsAfterDotDot(name) || depth > walk->depthLimit) return kWalkOn;
  // A subfolder whose own listing pattern would not fit is neither added nor
  // entered: it could not be listed later either.
  char childPattern[kPathSize];
  if (entry->path == nullptr || !FormatText(childPattern, sizeof childPattern, "%s\\*.*", entry->path)) {
    NoteSkippedJoined(report, kTextSkipPathTooLong, entry->folder, name);
    return kWalkOn;
  }
  // At the limit its own subfolders would all be too deep: no need to list it.
  if (!AddFolder(walk, entry->path, report) || depth >= walk->depthLimit) return kWalkOn;
  entry->childTag = walk->count - 1;
  walk->facts[entry->childTag].countedByWalk = true;
  return kWalkDescend;
}

// A folder that could not be listed after all has its files counted later.
static void LeaveFolder(void* context, const char*, int32_t listIndex, bool listed) {
  if (!listed && listIndex >= 0) static_cast<WalkStep*>(context)->walk->facts[listIndex].countedByWalk = false;
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
  int32_t rootIndex = rootListed ? 0 : -1;
  if (walk->depthLimit > 0 && FormatText(prefix, sizeof prefix, "%s\\", romFolder) &&
      StartTreeWalk(&walk->tree, prefix, rootIndex) && rootListed) {
    walk->facts[rootIndex].countedByWalk = true;
  }
  return true;
}

bool StepFolderWalk(FolderWalk* walk, int32_t maxEntries, RunReport* report) {
  WalkStep step = {walk, report};
  int32_t done = 0;
  if (IsTreeWalkUnderWay(&walk->tree)) {
    StepTreeWalk(&walk->tree, maxEntries, {WalkOneEntry, LeaveFolder, &step});
    done = maxEntries;
  }
  for (; done < maxEntries; ++done) {
    if (walk->countIndex < walk->count) {
      if (!walk->facts[walk->countIndex].countedByWalk) CountFolderFiles(walk, walk->countIndex);
      ++walk->countIndex;
    } else {
      break;
    }
  }
  return !IsTreeWalkUnderWay(&walk->tree) && walk->countIndex >= walk->count;
}

void ReleaseFolderWalk(FolderWalk* walk) {
  EndTreeWalk(&walk->tree);
  free(walk->entries);
  free(walk->facts);
  walk->entries = nullptr;
  walk->facts = nullptr;
  walk->count = walk->countIndex = walk->filesCounted = 0;
  walk->overflowNoted = false;
}
