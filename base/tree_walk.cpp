#include "base/tree_walk.h"

#include <climits>
#include <cstring>

static TreeLevel* Innermost(TreeWalk* walk) { return &walk->levels[walk->depth - 1]; }

// Opens the walk's folder as the next level; false when it cannot be listed.
static bool OpenLevel(TreeWalk* walk, int32_t tag) {
  if (walk->depth >= kMaxTreeDepth) {
    SetLastError(ERROR_FILENAME_EXCED_RANGE);
    return false;
  }
  TreeLevel* level = &walk->levels[walk->depth];
  if (!OpenListing(&level->listing, walk->folder)) return false;
  level->folderLength = strlen(walk->folder);
  level->tag = tag;
  level->shortName[0] = '\0';
  ++walk->depth;
  return true;
}

// Spells the folder below the root with each level's short name, where it has
// one. False, nothing changed, when that does not fit or is no shorter.
static bool ShortenFolder(TreeWalk* walk) {
  char shorter[kPathSize];
  size_t lengths[kMaxTreeDepth];
  size_t used = walk->rootLength;
  memcpy(shorter, walk->folder, used);
  for (int32_t depth = 1; depth < walk->depth; ++depth) {
    const TreeLevel& level = walk->levels[depth];
    size_t start = walk->levels[depth - 1].folderLength;
    const char* name = level.shortName[0] != '\0' ? level.shortName : walk->folder + start;
    size_t length = level.shortName[0] != '\0' ? strlen(name) : level.folderLength - start - 1;
    if (used + length + 1 >= sizeof shorter) return false;
    memcpy(shorter + used, name, length);
    used += length;
    shorter[used++] = '\\';
    lengths[depth] = used;
  }
  if (used >= Innermost(walk)->folderLength) return false;
  shorter[used] = '\0';
  memcpy(walk->folder, shorter, used + 1);
  for (int32_t depth = 1; depth < walk->depth; ++depth) walk->levels[depth].folderLength = lengths[depth];
  return true;
}

static void LeaveLevel(TreeWalk* walk, const TreeVisitor& visitor) {
  TreeLevel* level = Innermost(walk);
  CloseListing(&level->listing);
  --walk->depth;
  if (visitor.leave != nullptr) visitor.leave(visitor.context, walk->folder, level->tag, true);
  if (walk->depth > 0) walk->folder[Innermost(walk)->folderLength] = '\0';
}

// A folder whose listing does not fit a path buffer, or that cannot be
// listed, contributes nothing below it and is left at once.
static void Descend(TreeWalk* walk, const WalkedEntry& entry, const TreeVisitor& visitor) {
  if (IsFolderLink(entry.found->dwFileAttributes) || entry.path == nullptr) return;
  if (FormatText(walk->folder, sizeof walk->folder, "%s\\", entry.path) && OpenLevel(walk, entry.childTag)) {
    CopyText(Innermost(walk)->shortName, sizeof Innermost(walk)->shortName, entry.found->cAlternateFileName);
    return;
  }
  walk->folder[Innermost(walk)->folderLength] = '\0';
  if (visitor.leave != nullptr) visitor.leave(visitor.context, entry.path, entry.childTag, false);
}

bool StartTreeWalk(TreeWalk* walk, const char* root, int32_t rootTag) {
  EndTreeWalk(walk);
  if (!CopyText(walk->folder, sizeof walk->folder, root)) {
    SetLastError(ERROR_FILENAME_EXCED_RANGE);
    return false;
  }
  walk->rootLength = strlen(root);
  return OpenLevel(walk, rootTag);
}

bool StepTreeWalk(TreeWalk* walk, int32_t maxEntries, const TreeVisitor& visitor) {
  for (int32_t done = 0; walk->depth > 0 && done < maxEntries; ++done) {
    TreeLevel* level = Innermost(walk);
    if (!walk->again && !NextListedEntry(&level->listing)) {
      LeaveLevel(walk, visitor);
      continue;
    }
    walk->again = false;
    const WIN32_FIND_DATAA& found = level->listing.entry;
    if (strlen(walk->folder) + strlen(found.cFileName) + (IsFolderEntry(found) ? strlen("\\*.*") : 0) >= kPathSize) {
      ShortenFolder(walk);
    }
    char path[kPathSize];
    bool fits = FormatText(path, sizeof path, "%s%s", walk->folder, level->listing.entry.cFileName);
    WalkedEntry entry = {walk->folder,
                         fits ? path + walk->rootLength : nullptr,
                         fits ? path : nullptr,
                         &level->listing.entry,
                         level->listing.entryIndex,
                         walk->depth - 1,
                         level->tag,
                         0};
    switch (visitor.visit(visitor.context, &entry)) {
      case kWalkOn:
        break;
      case kWalkDescend:
        if (IsFolderEntry(*entry.found)) Descend(walk, entry, visitor);
        break;
      case kWalkAgainLater:
        walk->again = true;
        return false;
      case kWalkStop:
        EndTreeWalk(walk);
        walk->stopped = true;
        return true;
    }
  }
  return walk->depth == 0;
}

void EndTreeWalk(TreeWalk* walk) {
  while (walk->depth > 0) CloseListing(&walk->levels[--walk->depth].listing);
  walk->again = false;
  walk->stopped = false;
}

TreeWalkResult WalkTree(const char* root, const TreeVisitor& visitor) {
  // About 40 KiB: on the stack rather than a heap block that could fail.
  TreeWalk walk;
  if (!StartTreeWalk(&walk, root, 0)) return kTreeUnlisted;
  // No later to come back to here: kWalkAgainLater ends the walk too.
  bool over = StepTreeWalk(&walk, INT_MAX, visitor);
  bool stopped = !over || walk.stopped;
  EndTreeWalk(&walk);
  return stopped ? kTreeStopped : kTreeWalked;
}
