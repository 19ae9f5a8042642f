// Folder collection for the registration run.
#include "registration/folders.h"

#include <windows.h>

#include <cstddef>
#include <cstdlib>
#include <cstring>

#include "base/texts.h"
#include "registration/run_report.h"

// Each folder's file index is asked when it is listed; where two match, the
// volumes are asked too (a link into the tree is found so, and one onto
// another volume told apart).
static bool IdentityListed(const FolderWalk* walk, const char* path, const FileIdentity& index) {
  for (int32_t i = 0; i < walk->count; ++i) {
    if (walk->facts[i].identified && SameIdentity(walk->facts[i].identity, index) &&
        IsSamePath(walk->entries[i], path)) {
      return true;
    }
  }
  return false;
}

bool AddFolder(FolderWalk* walk, const char* path, RunReport* report, LONGLONG listedIndex) {
  if (walk->count >= kMaxFolders) {
    if (!walk->overflowNoted) NoteSkipped(report, kTextSkipTooManyFolders, path);
    walk->overflowNoted = true;
    return false;
  }
  for (int32_t i = 0; i < walk->count; ++i) {
    if (strcmp(walk->entries[i], path) == 0) return false;
  }
  // The listing's index spares an open of each folder.
  FileIdentity identity = {0, static_cast<DWORD>(static_cast<ULONGLONG>(listedIndex) >> 32),
                           static_cast<DWORD>(listedIndex)};
  bool identified = listedIndex != 0 || GetFileIndex(path, &identity);
  if (identified && IdentityListed(walk, path, identity)) return false;
  char* entry = walk->entries[walk->count];
  // A path that cannot keep its final "\" is refused, never cut.
  if (!CopyText(entry, kPathSize, path) || !EnsureTrailingBackslash(entry, kPathSize)) {
    memset(entry, 0, kPathSize);
    NoteSkipped(report, kTextSkipPathTooLong, path);
    return false;
  }
  walk->facts[walk->count] = {identity, identified, false, false, true, kNoKeptEntry, kNoKeptEntry};
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

// A kept file: this record, then its name and short name with their NULs.
struct KeptRecord {
  uint32_t next;  // the folder's next file, or kNoKeptEntry
  DWORD attributes;
  DWORD sizeHigh;
  DWORD sizeLow;
  FILETIME lastWrite;
  uint16_t nameSize;
  uint16_t shortSize;
};

// Appends the file to its folder's chain; once memory runs out the folder is
// left to be listed again when the run comes to it.
static void KeepFile(FolderWalk* walk, int32_t index, const WIN32_FIND_DATAA& found) {
  FolderFacts* facts = &walk->facts[index];
  if (!facts->keptWhole) return;
  KeptRecord record = {kNoKeptEntry,
                       found.dwFileAttributes,
                       found.nFileSizeHigh,
                       found.nFileSizeLow,
                       found.ftLastWriteTime,
                       static_cast<uint16_t>(strlen(found.cFileName) + 1),
                       static_cast<uint16_t>(strlen(found.cAlternateFileName) + 1)};
  size_t at = walk->kept.used;
  size_t size = sizeof record + record.nameSize + record.shortSize;
  if (at >= kNoKeptEntry - size || !ReserveBytes(&walk->kept, size)) {
    facts->keptWhole = false;
    return;
  }
  AppendBytes(&walk->kept, &record, sizeof record);
  AppendBytes(&walk->kept, found.cFileName, record.nameSize);
  AppendBytes(&walk->kept, found.cAlternateFileName, record.shortSize);
  uint32_t offset = static_cast<uint32_t>(at);
  if (facts->lastKept == kNoKeptEntry) {
    facts->firstKept = offset;
  } else {
    memcpy(walk->kept.bytes + facts->lastKept + offsetof(KeptRecord, next), &offset, sizeof offset);
  }
  facts->lastKept = offset;
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
    if (entry->levelTag < 0) return kWalkOn;
    ++walk->filesCounted;
    KeepFile(walk, entry->levelTag, *entry->found);
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
  // A link's own index is not its target's: that one is asked of the link.
  LONGLONG listedIndex = IsFolderLink(entry->found->dwFileAttributes) ? 0 : entry->fileIndex;
  if (!AddFolder(walk, entry->path, report, listedIndex) || depth >= walk->depthLimit) return kWalkOn;
  entry->childTag = walk->count - 1;
  walk->facts[entry->childTag].countedByWalk = walk->facts[entry->childTag].listed = true;
  return kWalkDescend;
}

// A folder that could not be listed after all has its files counted later.
static void LeaveFolder(void* context, const char*, int32_t listIndex, bool listed) {
  if (!listed && listIndex >= 0) {
    FolderFacts* facts = &static_cast<WalkStep*>(context)->walk->facts[listIndex];
    facts->countedByWalk = facts->listed = false;
  }
}

// Counts the files of one listed folder that the walk did not list.
static void CountFolderFiles(FolderWalk* walk, int32_t index) {
  FolderListing listing;
  if (!OpenListing(&listing, walk->entries[index])) return;
  walk->facts[index].listed = true;
  while (NextListedEntry(&listing)) {
    if (IsFolderEntry(listing.entry)) continue;
    ++walk->filesCounted;
    KeepFile(walk, index, listing.entry);
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
    walk->facts[rootIndex].countedByWalk = walk->facts[rootIndex].listed = true;
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
  // A folder counted here is listed whole: one a step, as it costs as much as
  // a step of the walk (sixteen a step made slices of up to 60 ms).
  while (done < maxEntries && walk->countIndex < walk->count) {
    bool listed = !walk->facts[walk->countIndex].countedByWalk;
    if (listed) CountFolderFiles(walk, walk->countIndex);
    ++walk->countIndex;
    if (listed) break;
  }
  return !IsTreeWalkUnderWay(&walk->tree) && walk->countIndex >= walk->count;
}

// A folder not listed by the walk, or not kept in full, is listed here, as the
// run listed every folder before the walk kept what it found. Files made
// after the walk are not seen, as they are not counted.
bool OpenKeptEntries(const FolderWalk* walk, int32_t folderIndex, KeptCursor* cursor) {
  CloseKeptEntries(cursor);
  const FolderFacts& facts = walk->facts[folderIndex];
  if (!facts.listed || !facts.keptWhole) {
    if (!OpenListing(&cursor->listing, walk->entries[folderIndex])) return false;
  } else {
    // A folder gone since the walk cannot be listed now, as a listing made now would say.
    DWORD attributes = GetFileAttributesA(walk->entries[folderIndex]);
    if (attributes == INVALID_FILE_ATTRIBUTES || !(attributes & FILE_ATTRIBUTE_DIRECTORY)) return false;
  }
  cursor->next = facts.firstKept;
  cursor->open = true;
  return true;
}

bool NextKeptEntry(const FolderWalk* walk, KeptCursor* cursor) {
  if (!cursor->open) return false;
  if (cursor->listing.search != INVALID_HANDLE_VALUE && cursor->listing.search != nullptr) {
    while (NextListedEntry(&cursor->listing)) {
      if (IsFolderEntry(cursor->listing.entry)) continue;
      cursor->entry = cursor->listing.entry;
      return true;
    }
    return false;
  }
  if (cursor->next == kNoKeptEntry || cursor->next + sizeof(KeptRecord) > walk->kept.used) return false;
  KeptRecord record;
  const char* at = walk->kept.bytes + cursor->next;
  memcpy(&record, at, sizeof record);
  WIN32_FIND_DATAA* entry = &cursor->entry;
  *entry = WIN32_FIND_DATAA();
  entry->dwFileAttributes = record.attributes;
  entry->nFileSizeHigh = record.sizeHigh;
  entry->nFileSizeLow = record.sizeLow;
  entry->ftLastWriteTime = record.lastWrite;
  CopyText(entry->cFileName, sizeof entry->cFileName, at + sizeof record);
  CopyText(entry->cAlternateFileName, sizeof entry->cAlternateFileName, at + sizeof record + record.nameSize);
  cursor->next = record.next;
  return true;
}

void CloseKeptEntries(KeptCursor* cursor) {
  CloseListing(&cursor->listing);
  cursor->open = false;
}

void ReleaseFolderWalk(FolderWalk* walk) {
  EndTreeWalk(&walk->tree);
  ReleaseBuffer(&walk->kept);
  free(walk->entries);
  free(walk->facts);
  walk->entries = nullptr;
  walk->facts = nullptr;
  walk->count = walk->countIndex = walk->filesCounted = 0;
  walk->overflowNoted = false;
}
