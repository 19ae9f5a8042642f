// Folder collection for the registration run.
#include "registration/folders.h"

#include <windows.h>

#include <cstdlib>
#include <cstring>

FolderList gFolders;

// The walk in progress: the depth of the folder being listed (0 before a walk)
// and the deepest level that is still collected.
static int32_t walkDepth;
static int32_t walkDepthLimit;

void AddFolder(const char* path) {
  if (gFolders.entries == nullptr || gFolders.count >= kMaxFolders) return;
  for (int32_t i = 0; i < gFolders.count; ++i) {
    if (strcmp(gFolders.entries[i], path) == 0) return;
  }
  char* entry = gFolders.entries[gFolders.count];
  // A path that cannot keep its final "\" is refused, never cut.
  if (!CopyText(entry, kPathSize, path) || !EnsureTrailingBackslash(entry, kPathSize)) {
    memset(entry, 0, kPathSize);
    return;
  }
  ++gFolders.count;
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

// Lists the folder of pattern ("<folder>\*.*") and collects its subfolders in
// pre-order. Recursion depth is bounded by the walk limit.
static void ListFolder(const char* pattern) {
  ++walkDepth;
  size_t prefixLength = strlen(pattern) - 3;  // without the "*.*"
  WIN32_FIND_DATAA entry;
  HANDLE search = FindFirstFileA(pattern, &entry);
  if (search != INVALID_HANDLE_VALUE) {
    do {
      if (!NameSortsAfterDotDot(entry.cFileName) || !(entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) {
        continue;
      }
      if (walkDepth > walkDepthLimit) continue;
      // A subfolder whose own listing pattern would not fit is neither added
      // nor entered: it could not be listed later either.
      char path[kPathSize];
      char childPattern[kPathSize];
      if (!FormatText(path, sizeof path, "%.*s%s", static_cast<int>(prefixLength), pattern, entry.cFileName) ||
          !FormatText(childPattern, sizeof childPattern, "%s\\*.*", path)) {
        continue;
      }
      AddFolder(path);
      // At the limit its own subfolders would all be too deep: no need to list it.
      if (walkDepth < walkDepthLimit) ListFolder(childPattern);
    } while (FindNextFileA(search, &entry));
    FindClose(search);
  }
  --walkDepth;
}

void CollectFolders(const char* root, int32_t depthLimit) {
  walkDepth = 0;
  walkDepthLimit = depthLimit;
  char pattern[kPathSize];
  if (FormatText(pattern, sizeof pattern, "%s\\*.*", root)) ListFolder(pattern);
  walkDepth = 0;
}

int32_t DepthLimitOfChoice(int32_t depthChoice) {
  if (depthChoice < 1) return 0;
  if (depthChoice == 1) return kAllLevelsLimit;
  return depthChoice - 1;
}

bool BuildFolderList(const char* romFolder, int32_t depthChoice) {
  gFolders.count = 0;
  if (gFolders.entries == nullptr) {
    gFolders.entries = static_cast<char(*)[kPathSize]>(calloc(kMaxFolders, kPathSize));
    if (gFolders.entries == nullptr) return false;
  }
  AddFolder(romFolder);
  int32_t limit = DepthLimitOfChoice(depthChoice);
  if (limit > 0) CollectFolders(romFolder, limit);
  return true;
}

void ReleaseFolderList() {
  free(gFolders.entries);
  gFolders.entries = nullptr;
  gFolders.count = 0;
}
