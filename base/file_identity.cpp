#include "base/file_identity.h"

#include <cstring>

#include "base/text.h"

bool GetFileIdentity(const char* path, FileIdentity* identity) {
  if (path == nullptr || path[0] == '\0') return false;
  // No access rights are needed to ask for the information, and full sharing
  // keeps the look from disturbing anyone who has the file open.
  // FILE_FLAG_BACKUP_SEMANTICS is what lets a folder be opened at all.
  HANDLE handle = CreateFileA(path, 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                              FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (handle == INVALID_HANDLE_VALUE) return false;
  // The file's own identity record (Windows 8 and later) asks the volume
  // nothing more; under Wine each volume question is a trip to its mount
  // manager. Its low halves are what the older call reports on NTFS, and the
  // high half of a 128-bit file ID is folded in.
  struct {
    ULONGLONG volumeSerial;
    DWORD fileId[4];
  } id = {};
  const auto kFileIdInfo = static_cast<FILE_INFO_BY_HANDLE_CLASS>(18);
  if (GetFileInformationByHandleEx(handle, kFileIdInfo, &id, sizeof id)) {
    CloseHandle(handle);
    identity->volumeSerial = static_cast<DWORD>(id.volumeSerial);
    identity->indexHigh = id.fileId[1] ^ id.fileId[2] ^ id.fileId[3];
    identity->indexLow = id.fileId[0];
    return true;
  }
  BY_HANDLE_FILE_INFORMATION information = {};
  bool known = GetFileInformationByHandle(handle, &information) != 0;
  CloseHandle(handle);
  if (!known) return false;
  identity->volumeSerial = information.dwVolumeSerialNumber;
  identity->indexHigh = information.nFileIndexHigh;
  identity->indexLow = information.nFileIndexLow;
  return true;
}

bool SameIdentity(const FileIdentity& a, const FileIdentity& b) {
  return a.volumeSerial == b.volumeSerial && a.indexHigh == b.indexHigh && a.indexLow == b.indexLow;
}

bool SameFileIdentity(const char* a, const char* b) {
  FileIdentity first = {};
  FileIdentity second = {};
  return GetFileIdentity(a, &first) && GetFileIdentity(b, &second) && SameIdentity(first, second);
}

bool GetIndexedIdentity(const char* path, FileIdentity* identity) {
  return GetFileIdentity(path, identity) && (identity->indexHigh != 0 || identity->indexLow != 0);
}

static bool FoldFullPath(char* key, size_t size, const char* path) {
  char full[kPathSize];
  DWORD length = GetFullPathNameA(path, sizeof full, full, nullptr);
  if (length == 0 || length >= sizeof full || !FoldPathForCompare(key, size, full)) return false;
  if (EndsWithBackslash(key)) key[strlen(key) - 1] = '\0';
  return true;
}

bool IsSameFolder(const char* a, const char* b) {
  if (a == nullptr || b == nullptr || a[0] == '\0' || b[0] == '\0') return false;
  FileIdentity first = {};
  FileIdentity second = {};
  if (GetIndexedIdentity(a, &first) && GetIndexedIdentity(b, &second)) return SameIdentity(first, second);
  char keyA[kPathSize];
  char keyB[kPathSize];
  return FoldFullPath(keyA, sizeof keyA, a) && FoldFullPath(keyB, sizeof keyB, b) && strcmp(keyA, keyB) == 0;
}
