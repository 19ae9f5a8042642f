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
#include "launch/extract_at_launch.h"
#include "profile/profile.h"
#include "relation/relation_lookup.h"

int LaunchByCrc(const char* crcText) {
  char foundPath[kPathSize];
  memset(foundPath, 0, sizeof foundPath);

  char relationPath[kPathSize];
  if (!DatasetFilePath(relationPath, sizeof relationPath, ".rel")) return 0;
  int closed = FindRelationSource(relationPath, crcText, foundPath, sizeof foundPath);
  if (foundPath[0] == '\0') return closed;
  if (!PathFileExistsA(foundPath)) return 0;

  const DatasetProfile& profile = gState.profile;
  char firstEntryPath[kPathSize] = "";
  const char* launchPath = foundPath;
  if (profile.extractOnLaunch != 0 && IsArchivePath(foundPath)) {
    ArchiveResult extracted = ExtractAtLaunch(foundPath, firstEntryPath);
    if (extracted != kArchiveExtracted) return extracted == kArchiveBusy ? kArchiveBusy : kArchiveRefused;
    launchPath = firstEntryPath;
  }
  if (gState.hostLaunch == nullptr) return 0;
  return gState.hostLaunch(launchPath);
}
