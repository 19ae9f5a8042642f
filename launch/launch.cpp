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
#include "launch/staging.h"
#include "profile/profile.h"

static constexpr size_t kCrcTextLength = 8;
// The longest line registration writes: CRC text, a blank, a 259-byte source
// path and the newline that text mode makes of the line break; and the NUL.
static constexpr size_t kRelationLineSize = kCrcTextLength + 1 + (kPathSize - 1) + 1 + 1;

// Reads the next line, newline included, into line. False at the end of the
// file. A line too long for the buffer (no registration writes one) is read to
// its end and reported as overlong, so that no piece of it passes for a line.
static bool ReadRelationLine(FILE* file, char* line, size_t size, bool* overlong) {
  *overlong = false;
  if (fgets(line, static_cast<int>(size), file) == nullptr) return false;
  size_t length = strlen(line);
  if (length + 1 < size || line[length - 1] == '\n') return true;
  // The buffer is full and holds no newline: unless the file ends here, the
  // line goes on and is passed over to its end.
  int c = getc(file);
  if (c == EOF) return true;
  *overlong = true;
  while (c != EOF && c != '\n') c = getc(file);
  return true;
}

// Looks crcText up line by line; the first matching line gives foundPath
// (empty when the line holds no path). The search also ends at the first line
// shorter than a CRC text. Returns the status of closing the file.
static int FindSourcePath(const char* relationPath, const char* crcText, char* foundPath, size_t size) {
  FILE* file = fopen(relationPath, "r");
  if (file == nullptr) return 0;
  char line[kRelationLineSize];
  bool overlong = false;
  while (ReadRelationLine(file, line, sizeof line, &overlong)) {
    if (overlong) continue;
    size_t length = strlen(line);
    if (length < kCrcTextLength) break;
    // Only the newline goes: a last line without one keeps its last character.
    if (line[length - 1] == '\n') line[--length] = '\0';
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

int LaunchByCrc(const char* crcText) {
  char foundPath[kPathSize];
  memset(foundPath, 0, sizeof foundPath);

  char relationPath[kPathSize];
  if (!DatasetFilePath(relationPath, sizeof relationPath, ".rel")) return 0;
  if (!PathFileExistsA(relationPath)) return 0;
  int closed = FindSourcePath(relationPath, crcText, foundPath, sizeof foundPath);
  if (foundPath[0] == '\0') return closed;
  if (!PathFileExistsA(foundPath)) return 0;

  const DatasetProfile& profile = gState.profile;
  char firstEntryPath[kPathSize] = "";
  const char* launchPath = foundPath;
  if (profile.extractOnLaunch != 0 && IsArchivePath(foundPath) == 1) {
    // Into a folder that holds the data directory (under any spelling), through
    // a staging folder, so that no entry of the archive can replace the plug-in's files.
    int extracted =
        HoldsDataDirectory(profile.extractFolder, gState.dataDir)
            ? ExtractThroughStaging(foundPath, profile.extractFolder, gState.dataDir, gState.tempDir, firstEntryPath)
            : ExtractArchive(foundPath, firstEntryPath, nullptr, profile.extractFolder);
    if (extracted != 0) return extracted;
    // The archiver does not report a failed extraction; a missing entry is one
    // (nothing stale can stand in for it: the extraction removed it first).
    if (firstEntryPath[0] == '\0' || !PathFileExistsA(firstEntryPath)) return -1;
    launchPath = firstEntryPath;
  }
  if (gState.hostLaunch == nullptr) return 0;
  return gState.hostLaunch(launchPath);
}
