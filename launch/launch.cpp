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
#include "relation/relation_lookup.h"

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
  int closed = FindRelationSource(relationPath, crcText, foundPath, sizeof foundPath);
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
