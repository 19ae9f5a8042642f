// "Setting.ini": despite its name, two 260-byte path records (the folders last
// chosen in the two folder pickers), 520 bytes in all.
#include <shlwapi.h>

#include <cstdio>
#include <cstring>

#include "base/file_io.h"
#include "base/state.h"
#include "plugin/plugin.h"

static bool GlobalSettingsPath(char* path, size_t size) {
  return FormatText(path, size, "%sSetting.ini", gState.dataDir);
}

int LoadGlobalSettings() {
  char path[kPathSize];
  if (!GlobalSettingsPath(path, sizeof path)) return -1;
  if (!PathFileExistsA(path)) return 0;
  FILE* file = fopen(path, "rb");
  if (file == nullptr) return -1;
  // A short file fills the records in order as far as it reaches.
  if (fread(gState.lastRomBrowseFolder, 1, kPathSize, file) == kPathSize) {
    fread(gState.lastExtractBrowseFolder, 1, kPathSize, file);
  }
  TerminateRecord(gState.lastRomBrowseFolder, sizeof gState.lastRomBrowseFolder);
  TerminateRecord(gState.lastExtractBrowseFolder, sizeof gState.lastExtractBrowseFolder);
  return fclose(file) == 0 ? 0 : -1;
}

// Written aside and put in place in one step: a failed save leaves the
// previous file whole.
int SaveGlobalSettings() {
  char path[kPathSize];
  if (!GlobalSettingsPath(path, sizeof path)) return -1;
  char records[2 * kPathSize];
  memcpy(records, gState.lastRomBrowseFolder, kPathSize);
  memcpy(records + kPathSize, gState.lastExtractBrowseFolder, kPathSize);
  return ReplaceFileWhole(path, records, sizeof records, kWriteGlobalSettings) ? 0 : -1;
}
