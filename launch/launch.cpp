// The popup action: the selected ROM's CRC text is looked up in the dataset's
// relation file and the host is asked to start the source path, or the first
// entry of the archive it names once extracted.
#include "launch/launch.h"

#include <windows.h>
#include <shlwapi.h>

#include <cstdio>
#include <cstring>

#include "archive/archive.h"
#include "base/state.h"
#include "base/text.h"
#include "launch/extract_at_launch.h"
#include "profile/profile.h"
#include "registration/relation_pending.h"

// Looks crcText up line by line; the first matching line gives foundPath
// (empty when the line holds no path). The search also ends at the first line
// shorter than a CRC text. Returns the status of closing the file.
static int FindSourcePath(const char* relationPath, const char* crcText, char* foundPath, size_t size) {
  FILE* file = fopen(relationPath, "rb");
  if (file == nullptr) return 0;
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
  return fclose(file);
}

// Whether a component of path is an 8.3 short name of something else: one
// with "~" that the long form spells otherwise. Such a name can pass to
// another file after a rename or a delete.
static bool ReachedThroughShortName(const char* path) {
  if (strchr(path, '~') == nullptr) return false;
  char longPath[kPathSize];
  DWORD length = GetLongPathNameA(path, longPath, sizeof longPath);
  return length > 0 && length < sizeof longPath && lstrcmpiA(longPath, path) != 0;
}

int LaunchByCrc(const char* crcText) {
  char foundPath[kPathSize];
  memset(foundPath, 0, sizeof foundPath);

  char relationPath[kPathSize];
  if (!DatasetFilePath(relationPath, sizeof relationPath, ".rel")) return 0;
  // A run's lines that could not be put in place yet are the newest: put in
  // place now, or read where they wait, lines a window's end left unmerged
  // first, then the pending list or the relation file.
  char unmergedPath[kPathSize];
  char pendingPath[kPathSize];
  FinishPendingRelation(relationPath);
  const char* lists[] = {
      UnmergedRelationPath(unmergedPath, sizeof unmergedPath, relationPath) ? unmergedPath : "",
      PendingRelationPath(pendingPath, sizeof pendingPath, relationPath) && PathFileExistsA(pendingPath)
          ? pendingPath
          : relationPath};
  int closed = 0;
  for (const char* list : lists) {
    if (foundPath[0] == '\0' && list[0] != '\0' && PathFileExistsA(list)) {
      closed = FindSourcePath(list, crcText, foundPath, sizeof foundPath);
    }
  }
  if (foundPath[0] == '\0') return closed;
  if (!PathFileExistsA(foundPath)) return 0;

  const DatasetProfile& profile = gState.profile;
  LaunchRequest request = {foundPath, profile.extractOnLaunch != 0 && IsArchivePath(foundPath),
                           ReachedThroughShortName(foundPath) ? crcText : nullptr};
  char launchPath[kPathSize] = "";
  if (!request.extract && request.crcText == nullptr) {
    CopyText(launchPath, sizeof launchPath, foundPath);
  } else {
    LaunchPrepared prepared = PrepareLaunch(request, launchPath);
    // Closed meanwhile: the host is not asked, and hears nothing went wrong.
    if (prepared == kLaunchAbandoned) return 0;
    if (prepared != kLaunchReady) return prepared;
  }
  if (gState.hostLaunch == nullptr) return 0;
  return gState.hostLaunch(launchPath);
}
