#include "base/file_presence.h"

#include <windows.h>

#include <cstring>

// Whether the volume at volumePath ("C:\", "\\server\share\", or a folder a
// disk is mounted in) can be read now. GetVolumeInformationA asks the volume
// itself: the folder a disk is mounted in stays when the disk is away.
static bool AskVolume(const char* volumePath, VolumeAnswers* volumes) {
  for (int i = 0; i < volumes->count; ++i) {
    if (strcmp(volumes->volumes[i].path, volumePath) == 0) return volumes->volumes[i].answers;
  }
  DWORD serial = 0;
  bool answers = GetVolumeInformationA(volumePath, nullptr, 0, &serial, nullptr, nullptr, nullptr, 0) != 0;
  int slot = volumes->count < 8 ? volumes->count++ : (volumes->next++ % 8);
  CopyText(volumes->volumes[slot].path, sizeof volumes->volumes[slot].path, volumePath);
  volumes->volumes[slot].answers = answers;
  return answers;
}

// Whether the folder path lies in proves a file's absence: it is there, it
// can be listed, and it holds something. A folder a disk is mounted in stays
// when the disk is away, empty or unlistable, and GetVolumePathNameA then
// names the volume that holds the folder, which answers: neither says the
// file is gone. Asked once per folder in a row: a list keeps a folder's files
// together.
static bool FolderProvesAbsence(const char* path, VolumeAnswers* volumes) {
  char folder[kPathSize];
  size_t folderLength = static_cast<size_t>(LastComponent(path) - path);
  if (!FormatText(folder, sizeof folder, "%.*s", static_cast<int>(folderLength), path)) return false;
  if (strcmp(folder, volumes->folder) == 0) return volumes->folderAnswers;
  bool proves = false;
  char search[kPathSize];
  WIN32_FIND_DATAA found;
  HANDLE listing =
      FormatText(search, sizeof search, "%s*", folder) ? FindFirstFileA(search, &found) : INVALID_HANDLE_VALUE;
  // "." and ".." come first where they come at all: three entries settle it.
  for (int seen = 0; listing != INVALID_HANDLE_VALUE && !proves && seen < 3; ++seen) {
    proves = strcmp(found.cFileName, ".") != 0 && strcmp(found.cFileName, "..") != 0;
    if (!proves && !FindNextFileA(listing, &found)) break;
  }
  if (listing != INVALID_HANDLE_VALUE) FindClose(listing);
  CopyText(volumes->folder, sizeof volumes->folder, folder);
  volumes->folderAnswers = proves;
  return proves;
}

FilePresence ProbeFile(const char* path, VolumeAnswers* volumes) {
  char root[kPathSize];
  if (!VolumeRootOf(root, sizeof root, path)) return kFileUnknown;
  // A drive or share that does not answer is not asked about each of its files.
  if (!AskVolume(root, volumes)) return kFileUnknown;
  if (GetFileAttributesA(path) != INVALID_FILE_ATTRIBUTES) return kFilePresent;
  // Only "no such file" in a folder that is there: a missing folder on the
  // way is no proof.
  if (GetLastError() != ERROR_FILE_NOT_FOUND) return kFileUnknown;
  if (!FolderProvesAbsence(path, volumes)) return kFileUnknown;
  // The folder lists others: once more, now that they were seen, the name.
  return GetFileAttributesA(path) == INVALID_FILE_ATTRIBUTES && GetLastError() == ERROR_FILE_NOT_FOUND ? kFileGone
                                                                                                       : kFileUnknown;
}
