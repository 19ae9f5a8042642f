// The launch's reader of the relation file.
#include "relation/relation_lookup.h"

#include <windows.h>

#include <cstdio>
#include <cstring>

#include "relation/relation_file.h"
#include "relation/relation_pending.h"

// Looks crcText up line by line in one list; false when it cannot be opened.
// *closed is the status of closing it.
static bool SearchList(const char* listPath, const char* crcText, char* foundPath, size_t size, int* closed) {
  FILE* file = fopen(listPath, "rb");
  if (file == nullptr) return false;
  char line[kRelationLineSize];
  bool overlong = false;
  while (ReadRelationLine(file, line, sizeof line, &overlong)) {
    if (overlong) continue;
    size_t read = strlen(line);
    size_t length = StripLineBreak(line);
    // The line break counts as one character, whether CR LF or LF alone.
    if (length + (read > length ? 1 : 0) < kCrcTextLength) break;
    char key[kCrcTextLength + 1];
    memcpy(key, line, kCrcTextLength);
    key[kCrcTextLength] = '\0';
    if (strcmp(key, crcText) == 0) {
      // The ninth character, normally the blank, is skipped unseen. A path
      // too long for a path buffer is not cut to another one.
      const char* path = line + kCrcTextLength + 1;
      if (length > kCrcTextLength + 1 && !CopyText(foundPath, size, path)) foundPath[0] = '\0';
      break;
    }
  }
  *closed = fclose(file);
  return true;
}

int FindRelationSource(const char* relationPath, const char* crcText, char* foundPath, size_t size) {
  foundPath[0] = '\0';
  // A run's lines that could not be put in place yet are the newest: put in
  // place now when they can be, or else read where they wait.
  PutPendingRelationInPlace(relationPath);
  char unmergedPath[kPathSize];
  char pendingPath[kPathSize];
  bool unmergedWaits = UnmergedLinesWait(relationPath);
  const char* lists[] = {
      unmergedWaits && UnmergedRelationPath(unmergedPath, sizeof unmergedPath, relationPath) ? unmergedPath : "",
      PendingRelationPath(pendingPath, sizeof pendingPath, relationPath) ? pendingPath : "", relationPath};
  int closed = 0;
  bool searched = false;  // a list was read: an older one is not asked
  for (const char* list : lists) {
    if (list[0] == '\0' || GetFileAttributesA(list) == INVALID_FILE_ATTRIBUTES) continue;
    // Unmerged lines come before the pending list or the relation file, and
    // do not stand for them: those are read after them all the same.
    bool unmerged = list == unmergedPath;
    if (searched && !unmerged) break;
    if (SearchList(list, crcText, foundPath, size, &closed) && !unmerged) searched = true;
    if (foundPath[0] != '\0') break;
  }
  return closed;
}
