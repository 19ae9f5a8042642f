#include "base/held_files.h"

#include <cstring>

#include "base/test_switches.h"
#include "base/text.h"

// Tries at 0, 25, 75, ... 1950 ms: a hold of a second and a half is waited
// out with room to spare for a late timer.
static constexpr int kHoldTries = 13;
static constexpr DWORD kHoldStepMs = 25;

bool IsHeldError(DWORD error) {
  return error == ERROR_SHARING_VIOLATION || error == ERROR_ACCESS_DENIED || error == ERROR_LOCK_VIOLATION;
}

#ifdef CORVANE_TEST_SWITCHES
struct TestHold {
  HANDLE file;
  DWORD ms;
};

static DWORD WINAPI ReleaseTestHold(void* parameter) {
  TestHold* hold = static_cast<TestHold*>(parameter);
  Sleep(hold->ms);
  CloseHandle(hold->file);
  delete hold;
  InterlockedDecrement(&gTestSwitches.holdsOpen);
  return 0;
}

// What another program would do to a file the plug-in is about to move or
// delete: opens it without delete sharing, for a while, from another thread.
// The tries that follow on the same file find it held, not held anew. A path
// that is not there yet is not marked: it is held once it appears.
static void HoldForTests(const char* path) {
  TestSwitches& switches = gTestSwitches;
  if (switches.holdCount <= 0 || switches.holdPathPart[0] == '\0' || strstr(path, switches.holdPathPart) == nullptr) {
    return;
  }
  DWORD hash = 2166136261u;
  for (const char* p = path; *p != '\0'; ++p) hash = (hash ^ static_cast<BYTE>(*p)) * 16777619u;
  for (int i = 0; i < switches.heldCount; ++i) {
    if (switches.heldHashes[i] == hash) return;
  }
  HANDLE file = CreateFileA(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                            FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (file == INVALID_HANDLE_VALUE) return;
  if (switches.heldCount < static_cast<int>(sizeof switches.heldHashes / sizeof *switches.heldHashes)) {
    switches.heldHashes[switches.heldCount++] = hash;
  }
  --switches.holdCount;
  InterlockedIncrement(&switches.holdsOpen);
  HANDLE thread = CreateThread(nullptr, 0, ReleaseTestHold, new TestHold{file, switches.holdMs}, 0, nullptr);
  if (thread != nullptr) CloseHandle(thread);
}
#define HOLD_FOR_TESTS(path) HoldForTests(path)
#else
#define HOLD_FOR_TESTS(path) ((void)0)
#endif

TryResult CountTry(HoldRetry* retry, DWORD error) {
  if (error == ERROR_SUCCESS) return kTryDone;
  ++retry->tries;
  if (!IsHeldError(error) || retry->tries >= kHoldTries) {
    SetLastError(error);
    return kTryFailed;
  }
  retry->nextTry = GetTickCount() + kHoldStepMs * static_cast<DWORD>(retry->tries);
  return kTryLater;
}

bool IsTryDue(const HoldRetry* retry) {
  return retry->tries == 0 || static_cast<LONG>(GetTickCount() - retry->nextTry) >= 0;
}

// ERROR_ACCESS_DENIED is also what a folder or a read-only file at path gives:
// that lasts, and no wait will change it.
static DWORD LastingOrHeld(DWORD error, const char* path) {
  if (error != ERROR_ACCESS_DENIED) return error;
  DWORD attributes = GetFileAttributesA(path);
  if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_READONLY))) {
    return ERROR_FILE_EXISTS;
  }
  return error;
}

TryResult TryOpenSource(const char* path, DWORD share, HoldRetry* retry, HANDLE* opened) {
  *opened = INVALID_HANDLE_VALUE;
  if (!IsTryDue(retry)) return kTryLater;
  HOLD_FOR_TESTS(path);
  *opened = CreateFileA(path, GENERIC_READ, share, nullptr, OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
  if (*opened != INVALID_HANDLE_VALUE) return CountTry(retry, ERROR_SUCCESS);
  // A folder of that name cannot be read whatever the wait.
  return CountTry(retry, LastingOrHeld(GetLastError(), path));
}

TryResult TryMoveOwnFile(const char* from, const char* to, DWORD flags, HoldRetry* retry) {
  if (!IsTryDue(retry)) return kTryLater;
  HOLD_FOR_TESTS(to);
  HOLD_FOR_TESTS(from);
  if (MoveFileExA(from, to, flags)) return CountTry(retry, ERROR_SUCCESS);
  DWORD error = GetLastError();
  // A folder in the way, or a read-only file that is not ours to replace.
  if (error == ERROR_ACCESS_DENIED && LastingOrHeld(error, to) != error) error = ERROR_ALREADY_EXISTS;
  return CountTry(retry, error);
}

TryResult TryMoveIntoPlace(const char* from, const char* to, HoldRetry* retry) {
  return TryMoveOwnFile(from, to, MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH, retry);
}

TryResult TryDeleteFile(const char* path, HoldRetry* retry) {
  if (!IsTryDue(retry)) return kTryLater;
  HOLD_FOR_TESTS(path);
  if (DeleteFileA(path)) return CountTry(retry, ERROR_SUCCESS);
  DWORD error = GetLastError();
  if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND) return kTryDone;
  DWORD attributes = GetFileAttributesA(path);
  // A folder is no file to delete.
  if (error == ERROR_ACCESS_DENIED && attributes != INVALID_FILE_ATTRIBUTES &&
      (attributes & FILE_ATTRIBUTE_DIRECTORY)) {
    error = ERROR_DIRECTORY;
  }
  return CountTry(retry, LastingOrHeld(error, path));
}

// Opens path as itself, never through a link, and deletes it through that
// handle once proven(file, basic, standard) holds, so that nothing can be put
// in the file's place between the look and the delete. What is not proven, or
// not there, is done with; a read-only attribute is cleared first only where
// clearReadOnly says the file's attributes are ours to change.
template <typename Proof>
static TryResult TryDeleteThroughProof(const char* path, bool clearReadOnly, Proof proven, HoldRetry* retry) {
  // A link is never ours, whatever it leads to. Its own attributes say so
  // where an open does not (Wine follows a Unix link whatever the flags).
  DWORD attributes = GetFileAttributesA(path);
  if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_REPARSE_POINT)) return kTryDone;
  HANDLE file = CreateFileA(path, DELETE | FILE_READ_ATTRIBUTES | FILE_WRITE_ATTRIBUTES,
                            FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                            FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
  if (file == INVALID_HANDLE_VALUE) {
    DWORD error = GetLastError();
    if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND) return kTryDone;
    return CountTry(retry, error);
  }
  FILE_BASIC_INFO basic = {};
  FILE_STANDARD_INFO standard = {};
  bool ours = GetFileInformationByHandleEx(file, FileBasicInfo, &basic, sizeof basic) &&
              GetFileInformationByHandleEx(file, FileStandardInfo, &standard, sizeof standard) &&
              !(basic.FileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) &&
              proven(file, basic, standard);
  if (!ours) {
    CloseHandle(file);
    return kTryDone;
  }
  // A link to a user's file (one name of several) shares the file's
  // attributes: they are never changed through it.
  if (clearReadOnly && (basic.FileAttributes & FILE_ATTRIBUTE_READONLY) && standard.NumberOfLinks <= 1) {
    // Times of 0 leave them as they are.
    FILE_BASIC_INFO writable = {};
    writable.FileAttributes = basic.FileAttributes & ~FILE_ATTRIBUTE_READONLY;
    if (writable.FileAttributes == 0) writable.FileAttributes = FILE_ATTRIBUTE_NORMAL;
    SetFileInformationByHandle(file, FileBasicInfo, &writable, sizeof writable);
  }
  FILE_DISPOSITION_INFO disposition = {TRUE};
  bool deleted = SetFileInformationByHandle(file, FileDispositionInfo, &disposition, sizeof disposition) != 0;
  DWORD error = deleted ? ERROR_SUCCESS : GetLastError();
  CloseHandle(file);
  return CountTry(retry, error);
}

TryResult TryDeleteProvenFile(const char* path, const FileIdentity& identity, long long mostBytes, bool volumeToo,
                              HoldRetry* retry) {
  if (!IsTryDue(retry)) return kTryLater;
  HOLD_FOR_TESTS(path);
  auto proven = [&](HANDLE file, const FILE_BASIC_INFO&, const FILE_STANDARD_INFO& standard) {
    FileIdentity now = {};
    return (volumeToo ? GetHandleIdentity(file, &now) && SameIdentity(now, identity)
                      : GetHandleIndex(file, &now) && SameIndex(now, identity)) &&
           (mostBytes < 0 || standard.EndOfFile.QuadPart <= mostBytes);
  };
  return TryDeleteThroughProof(path, true, proven, retry);
}

// A file system stamps a file from a coarser clock than the system time the
// slot was written with (a timer tick behind, or FAT's steps), so a file made
// just after may read as made just before: two seconds of leeway.
static LONGLONG SinceWithLeeway(const FILETIME& since) {
  constexpr LONGLONG kLeeway = 2 * 10000000LL;  // in 100-ns units
  return (static_cast<LONGLONG>(since.dwHighDateTime) << 32 | since.dwLowDateTime) - kLeeway;
}

TryResult TryDeleteEmptyFileMadeSince(const char* path, const FILETIME& since, HoldRetry* retry) {
  if (!IsTryDue(retry)) return kTryLater;
  auto proven = [&](HANDLE, const FILE_BASIC_INFO& basic, const FILE_STANDARD_INFO& standard) {
    return !(basic.FileAttributes & FILE_ATTRIBUTE_READONLY) && standard.EndOfFile.QuadPart == 0 &&
           standard.NumberOfLinks <= 1 && basic.CreationTime.QuadPart >= SinceWithLeeway(since);
  };
  return TryDeleteThroughProof(path, false, proven, retry);
}

#ifdef CORVANE_TEST_SWITCHES
// A folder that refuses every create, as a read-only one does on Windows (the
// tests run as a user no permission stops).
static bool RefusedForTests(const char* path) {
  const char* part = gTestSwitches.createRefusedPathPart;
  return part[0] != '\0' && strstr(path, part) != nullptr;
}
#else
static bool RefusedForTests(const char*) { return false; }
#endif

bool ProbeFolderForCreates(const char* path) {
  size_t folderLength = static_cast<size_t>(LastComponent(path) - path);
  // A name of the same form another program left is stepped over, never
  // replaced; the scratch file goes when its handle closes, a kill included.
  for (unsigned attempt = 0; attempt < 4; ++attempt) {
    char probe[MAX_PATH];
    if (!FormatText(probe, sizeof probe, "%.*scorvane-probe-%lu-%u.tmp", static_cast<int>(folderLength), path,
                    GetCurrentProcessId(), attempt) ||
        RefusedForTests(probe)) {
      return false;
    }
    HANDLE file = CreateFileA(probe, GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                              FILE_ATTRIBUTE_TEMPORARY | FILE_FLAG_DELETE_ON_CLOSE, nullptr);
    if (file != INVALID_HANDLE_VALUE) {
      CloseHandle(file);
      return true;
    }
    if (GetLastError() != ERROR_FILE_EXISTS) return false;
  }
  return false;
}

TryResult TryCreateNewFile(const char* path, DWORD access, DWORD flags, HoldRetry* retry, HANDLE* created) {
  *created = INVALID_HANDLE_VALUE;
  if (!IsTryDue(retry)) return kTryLater;
  if (RefusedForTests(path)) {
    SetLastError(ERROR_ACCESS_DENIED);
  } else {
    *created = CreateFileA(path, access, 0, nullptr, CREATE_NEW, flags, nullptr);
    if (*created != INVALID_HANDLE_VALUE) return CountTry(retry, ERROR_SUCCESS);
  }
  DWORD error = GetLastError();
  // A name another program holds (a file pending delete) refuses; a folder
  // that refuses every name will refuse this one whatever the wait.
  if (error == ERROR_ACCESS_DENIED && !ProbeFolderForCreates(path)) {
    SetLastError(error);
    return kTryFailed;
  }
  return CountTry(retry, error);
}

TryResult TryRemoveOwnFolder(const char* path, HoldRetry* retry) {
  if (!IsTryDue(retry)) return kTryLater;
  if (RemoveDirectoryA(path)) return CountTry(retry, ERROR_SUCCESS);
  DWORD error = GetLastError();
  if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND) return kTryDone;
  return CountTry(retry, error);
}

TryResult TryCheckReplaceable(const char* path, HoldRetry* retry) {
  if (!IsTryDue(retry)) return kTryLater;
  HOLD_FOR_TESTS(path);
  HANDLE file = CreateFileA(path, GENERIC_WRITE | DELETE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                            nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) {
    DWORD error = GetLastError();
    return error == ERROR_FILE_NOT_FOUND ? kTryDone : CountTry(retry, LastingOrHeld(error, path));
  }
  CloseHandle(file);
  return CountTry(retry, ERROR_SUCCESS);
}

void SleepUntilDue(const HoldRetry* retry) {
  LONG wait = static_cast<LONG>(retry->nextTry - GetTickCount());
  if (wait > 0) Sleep(static_cast<DWORD>(wait));
}

bool DeleteFileWaitingOutHolds(const char* path) {
  return WaitOutHolds([&](HoldRetry* retry) { return TryDeleteFile(path, retry); });
}

bool MoveOwnFile(const char* from, const char* to, DWORD flags) {
  return WaitOutHolds([&](HoldRetry* retry) { return TryMoveOwnFile(from, to, flags, retry); });
}

static TryResult TryMoveOwnFileUnderLongName(const char* from, const char* toFolder, DWORD flags, HoldRetry* retry) {
  if (!IsTryDue(retry)) return kTryLater;
  HOLD_FOR_TESTS(from);
  constexpr int kWideSize = 260;
  wchar_t wideFrom[kWideSize], wideTo[kWideSize];
  if (MultiByteToWideChar(CP_ACP, MB_ERR_INVALID_CHARS, from, -1, wideFrom, kWideSize) == 0 ||
      MultiByteToWideChar(CP_ACP, MB_ERR_INVALID_CHARS, toFolder, -1, wideTo, kWideSize) == 0) {
    return CountTry(retry, ERROR_INVALID_NAME);
  }
  WIN32_FIND_DATAW found;
  HANDLE search = FindFirstFileW(wideFrom, &found);
  if (search == INVALID_HANDLE_VALUE) return CountTry(retry, GetLastError());
  FindClose(search);
  size_t folderLength = wcslen(wideTo), nameLength = wcslen(found.cFileName);
  if (folderLength + nameLength >= kWideSize) return CountTry(retry, ERROR_FILENAME_EXCED_RANGE);
  memcpy(wideTo + folderLength, found.cFileName, (nameLength + 1) * sizeof(wchar_t));
  if (MoveFileExW(wideFrom, wideTo, flags)) return CountTry(retry, ERROR_SUCCESS);
  return CountTry(retry, GetLastError());
}

bool MoveOwnFileUnderLongName(const char* from, const char* toFolder, DWORD flags) {
  return WaitOutHolds([&](HoldRetry* retry) { return TryMoveOwnFileUnderLongName(from, toFolder, flags, retry); });
}

HANDLE OpenSource(const char* path, DWORD share) {
  HANDLE opened = INVALID_HANDLE_VALUE;
  WaitOutHolds([&](HoldRetry* retry) { return TryOpenSource(path, share, retry, &opened); });
  return opened;
}
