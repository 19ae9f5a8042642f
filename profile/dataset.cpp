// The dataset's files: their names, and the profile file read and written.
#include <windows.h>
#include <shlwapi.h>

#include <cstdio>
#include <cstring>

#include "base/file_io.h"
#include "base/state.h"
#include "base/text.h"
#include "profile/profile.h"

bool DatasetFilePath(char* path, size_t size, const char* extension) {
  // A dataset name is joined to the data directory verbatim ("NES\Japan" names
  // a file in a subfolder), but never so that the file lands outside it or on a device.
  if (!NameStaysInsideFolder(gState.datasetName) ||
      !FormatText(path, size, "%s%s%s", gState.dataDir, gState.datasetName, extension)) {
    path[0] = '\0';
    return false;
  }
  return true;
}

void LoadDatasetProfile() {
  char path[kPathSize];
  if (!DatasetFilePath(path, sizeof path, ".fol")) return;
  if (!PathFileExistsA(path)) return;
  FILE* file = fopen(path, "rb");
  if (file == nullptr) return;
  // A short file replaces the leading fields it holds and leaves the rest.
  DatasetProfile& profile = gState.profile;
  char earlierExtractFolder[kPathSize];
  memcpy(earlierExtractFolder, profile.extractFolder, sizeof earlierExtractFolder);
  if (fread(&profile.headerSize, 1, 4, file) == 4 && fread(profile.romFolder, 1, kPathSize, file) == kPathSize &&
      fread(&profile.depthChoice, 1, 4, file) == 4 && fread(&profile.extractOnLaunch, 1, 4, file) == 4) {
    fread(profile.extractFolder, 1, kPathSize, file);
  }
  fclose(file);
  TerminateRecord(profile.romFolder, sizeof profile.romFolder);
  TerminateRecord(profile.extractFolder, sizeof profile.extractFolder);
  // Launch joins entry names straight onto the extraction folder. One with no
  // room for its "\" keeps the folder in force before the load rather than
  // send files next to the folder the user named.
  if (profile.extractFolder[0] != '\0' &&
      !EnsureTrailingBackslash(profile.extractFolder, sizeof profile.extractFolder)) {
    memcpy(profile.extractFolder, earlierExtractFolder, sizeof earlierExtractFolder);
  }
}

// The 532 bytes are written aside and put in place in one step: a failed save
// leaves the previous profile file whole.
int SaveDatasetProfile() {
  char path[kPathSize];
  if (!DatasetFilePath(path, sizeof path, ".fol")) return -1;
  const DatasetProfile& profile = gState.profile;
  char record[kProfileFileSize];
  char* at = record;
  memcpy(at, &profile.headerSize, 4);
  memcpy(at += 4, profile.romFolder, kPathSize);
  memcpy(at += kPathSize, &profile.depthChoice, 4);
  memcpy(at += 4, &profile.extractOnLaunch, 4);
  memcpy(at += 4, profile.extractFolder, kPathSize);
  return ReplaceFileWhole(path, record, sizeof record, kWriteProfile) ? 0 : -1;
}
