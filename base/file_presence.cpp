#include "base/file_presence.h"

#include <windows.h>

bool IsKnownGone(const char* path, VolumeAnswer* last) {
  // A path that names no volume is on the current one, which answers.
  char root[kPathSize];
  if (VolumeRootOf(root, sizeof root, path)) {
    if (CompareFoldedPaths(root, last->root) != 0) {
      CopyText(last->root, sizeof last->root, root);
      last->answers = GetFileAttributesA(root) != INVALID_FILE_ATTRIBUTES;
    }
    // A volume that does not answer is not asked about each of its files.
    if (!last->answers) return false;
  }
  if (GetFileAttributesA(path) != INVALID_FILE_ATTRIBUTES) return false;
  DWORD error = GetLastError();
  return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND;
}
