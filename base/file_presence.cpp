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

// The volume of the folder path lies in, asked once per folder in a row: a
// list keeps a folder's files together.
static bool VolumeAnswersFor(const char* path, VolumeAnswers* volumes) {
  char folder[kPathSize];
  size_t folderLength = static_cast<size_t>(LastComponent(path) - path);
  if (!FormatText(folder, sizeof folder, "%.*s", static_cast<int>(folderLength), path)) return false;
  if (strcmp(folder, volumes->folder) == 0) return volumes->folderAnswers;
  char volumePath[kPathSize];
  bool answers = GetVolumePathNameA(path, volumePath, sizeof volumePath) && AskVolume(volumePath, volumes);
  CopyText(volumes->folder, sizeof volumes->folder, folder);
  volumes->folderAnswers = answers;
  return answers;
}

FilePresence ProbeFile(const char* path, VolumeAnswers* volumes) {
  char root[kPathSize];
  if (!VolumeRootOf(root, sizeof root, path)) return kFileUnknown;
  // A drive or share that does not answer is not asked about each of its files.
  if (!AskVolume(root, volumes)) return kFileUnknown;
  if (GetFileAttributesA(path) != INVALID_FILE_ATTRIBUTES) return kFilePresent;
  DWORD error = GetLastError();
  if (error != ERROR_FILE_NOT_FOUND && error != ERROR_PATH_NOT_FOUND) return kFileUnknown;
  return VolumeAnswersFor(path, volumes) ? kFileGone : kFileUnknown;
}
