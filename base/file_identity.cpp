#include "base/file_identity.h"

#include <winternl.h>

#include <cstring>

#include "base/text.h"

bool GetHandleIdentity(HANDLE handle, FileIdentity* identity) {
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
    identity->volumeSerial = static_cast<DWORD>(id.volumeSerial);
    identity->indexHigh = id.fileId[1] ^ id.fileId[2] ^ id.fileId[3];
    identity->indexLow = id.fileId[0];
    return true;
  }
  BY_HANDLE_FILE_INFORMATION information = {};
  if (!GetFileInformationByHandle(handle, &information)) return false;
  identity->volumeSerial = information.dwVolumeSerialNumber;
  identity->indexHigh = information.nFileIndexHigh;
  identity->indexLow = information.nFileIndexLow;
  return true;
}

// No access rights are needed to ask for the information, and full sharing
// keeps the look from disturbing anyone who has the file open.
// FILE_FLAG_BACKUP_SEMANTICS is what lets a folder be opened at all.
static HANDLE OpenToIdentify(const char* path) {
  if (path == nullptr || path[0] == '\0') return INVALID_HANDLE_VALUE;
  return CreateFileA(path, 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                     FILE_FLAG_BACKUP_SEMANTICS, nullptr);
}

bool GetFileIdentity(const char* path, FileIdentity* identity) {
  HANDLE handle = OpenToIdentify(path);
  if (handle == INVALID_HANDLE_VALUE) return false;
  bool known = GetHandleIdentity(handle, identity);
  DWORD error = GetLastError();
  CloseHandle(handle);
  SetLastError(error);
  return known;
}

bool GetIndexedIdentity(const char* path, FileIdentity* identity) {
  return GetFileIdentity(path, identity) && (identity->indexHigh != 0 || identity->indexLow != 0);
}

// The file's reference number (FILE_INTERNAL_INFORMATION), the one fact about
// an open handle that asks its volume nothing.
typedef LONG(WINAPI* QueryInformationFile)(HANDLE, IO_STATUS_BLOCK*, void*, ULONG, FILE_INFORMATION_CLASS);

bool GetHandleIndex(HANDLE handle, FileIdentity* index) {
  static QueryInformationFile query = reinterpret_cast<QueryInformationFile>(
      reinterpret_cast<void*>(GetProcAddress(GetModuleHandleA("ntdll.dll"), "NtQueryInformationFile")));
  if (query == nullptr) return false;
  IO_STATUS_BLOCK status = {};
  LARGE_INTEGER number = {};
  if (query(handle, &status, &number, sizeof number, FileInternalInformation) < 0 || number.QuadPart == 0) {
    return false;
  }
  index->volumeSerial = 0;
  index->indexHigh = static_cast<DWORD>(number.HighPart);
  index->indexLow = number.LowPart;
  return true;
}

bool GetFileIndex(const char* path, FileIdentity* index) {
  HANDLE handle = OpenToIdentify(path);
  if (handle == INVALID_HANDLE_VALUE) return false;
  bool known = GetHandleIndex(handle, index);
  CloseHandle(handle);
  return known;
}

bool SameIndex(const FileIdentity& a, const FileIdentity& b) {
  return a.indexHigh == b.indexHigh && a.indexLow == b.indexLow;
}

bool SameIdentity(const FileIdentity& a, const FileIdentity& b) { return CompareIdentities(a, b) == 0; }

int CompareIdentities(const FileIdentity& a, const FileIdentity& b) {
  if (a.volumeSerial != b.volumeSerial) return a.volumeSerial < b.volumeSerial ? -1 : 1;
  if (a.indexHigh != b.indexHigh) return a.indexHigh < b.indexHigh ? -1 : 1;
  if (a.indexLow != b.indexLow) return a.indexLow < b.indexLow ? -1 : 1;
  return 0;
}

static bool IsLetter(char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); }
static bool IsSeparator(char c) { return c == '\\' || c == '/'; }

// "X:\..." or "\\server\share...": the forms that name their volume.
static bool IsRootedPath(const char* path) {
  return (IsLetter(path[0]) && path[1] == ':' && IsSeparator(path[2])) ||
         (IsSeparator(path[0]) && IsSeparator(path[1]));
}

// Upper case as the file system compares names: through UTF-16, where the
// system knows the case of every letter, full-width ones included.
static bool FoldCase(char* text, size_t size) {
  WCHAR wide[kPathSize * 2];
  int length = MultiByteToWideChar(CP_ACP, 0, text, -1, wide, sizeof wide / sizeof *wide);
  if (length == 0) return false;
  CharUpperBuffW(wide, static_cast<DWORD>(length - 1));
  BOOL lost = FALSE;
  char folded[kPathSize * 2];
  int written = WideCharToMultiByte(CP_ACP, 0, wide, -1, folded, sizeof folded, nullptr, &lost);
  // A letter whose upper case has no place in the code page keeps its own form.
  if (written == 0 || lost) return true;
  return CopyText(text, size, folded);
}

bool MakePathKey(char* key, size_t size, const char* path) {
  if (size == 0) return false;
  key[0] = '\0';
  if (path == nullptr || path[0] == '\0') return false;
  if (!IsRootedPath(path)) {
    char folded[kPathSize * 2];
    return FoldPathForCompare(folded, sizeof folded, path) && FoldCase(folded, sizeof folded) &&
           CopyText(key, size, folded);
  }
  // "\\?\C:\x" is C:\x and "\\?\UNC\server\share" is \\server\share.
  char stripped[kPathSize * 2];
  if (strncmp(path, "\\\\?\\UNC\\", 8) == 0) {
    if (!FormatText(stripped, sizeof stripped, "\\\\%s", path + 8)) return false;
  } else if (!CopyText(stripped, sizeof stripped, strncmp(path, "\\\\?\\", 4) == 0 ? path + 4 : path)) {
    return false;
  }
  char full[kPathSize * 2];
  DWORD length = GetFullPathNameA(stripped, sizeof full, full, nullptr);
  if (length == 0 || length >= sizeof full) return false;
  // Every 8.3 alias the system makes for a longer name carries a "~"; only
  // those paths are looked up, so that a long list resolves at string speed.
  if (strchr(full, '~') != nullptr) {
    char longForm[kPathSize * 2];
    length = GetLongPathNameA(full, longForm, sizeof longForm);
    if (length > 0 && length < sizeof longForm) CopyText(full, sizeof full, longForm);
  }
  char folded[kPathSize * 2];
  if (!FoldPathForCompare(folded, sizeof folded, full) || !FoldCase(folded, sizeof folded)) return false;
  // "C:\ROMS\" and "C:\ROMS" are one folder; "C:\" stays a root.
  size_t end = strlen(folded);
  if (end > 3 && EndsWithBackslash(folded)) folded[end - 1] = '\0';
  return CopyText(key, size, folded);
}

bool IsSamePath(const char* a, const char* b) {
  if (a == nullptr || b == nullptr || a[0] == '\0' || b[0] == '\0') return false;
  FileIdentity first = {};
  FileIdentity second = {};
  if (GetIndexedIdentity(a, &first) && GetIndexedIdentity(b, &second)) return SameIdentity(first, second);
  char keyA[kPathSize * 2];
  char keyB[kPathSize * 2];
  return MakePathKey(keyA, sizeof keyA, a) && MakePathKey(keyB, sizeof keyB, b) && strcmp(keyA, keyB) == 0;
}
