#include "base/held_files.h"

#include <cstring>

#include "base/test_switches.h"

static constexpr int kHoldTries = 11;
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
// The tries that follow on the same file find it held, not held anew.
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
  if (switches.heldCount < static_cast<int>(sizeof switches.heldHashes / sizeof *switches.heldHashes)) {
    switches.heldHashes[switches.heldCount++] = hash;
  }
  HANDLE file = CreateFileA(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                            FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (file == INVALID_HANDLE_VALUE) return;
  --switches.holdCount;
  InterlockedIncrement(&switches.holdsOpen);
  HANDLE thread = CreateThread(nullptr, 0, ReleaseTestHold, new TestHold{file, switches.holdMs}, 0, nullptr);
  if (thread != nullptr) CloseHandle(thread);
}
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

TryResult TryMoveIntoPlace(const char* from, const char* to, HoldRetry* retry) {
  if (!IsTryDue(retry)) return kTryLater;
#ifdef CORVANE_TEST_SWITCHES
  HoldForTests(to);
  HoldForTests(from);
#endif
  bool moved = MoveFileExA(from, to, MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != 0;
  return CountTry(retry, moved ? ERROR_SUCCESS : GetLastError());
}

TryResult TryDeleteOwnFile(const char* path, HoldRetry* retry) {
  if (!IsTryDue(retry)) return kTryLater;
#ifdef CORVANE_TEST_SWITCHES
  HoldForTests(path);
#endif
  if (DeleteFileA(path)) return CountTry(retry, ERROR_SUCCESS);
  DWORD error = GetLastError();
  if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND) return kTryDone;
  // Read-only files (an archive may carry the attribute) cannot be deleted as they are.
  DWORD attributes = GetFileAttributesA(path);
  if (error == ERROR_ACCESS_DENIED && attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY)) {
    SetFileAttributesA(path, attributes & ~FILE_ATTRIBUTE_READONLY);
    if (DeleteFileA(path)) return kTryDone;
    error = GetLastError();
  }
  return CountTry(retry, error);
}

TryResult TryReplaceRight(const char* path, HoldRetry* retry) {
  if (!IsTryDue(retry)) return kTryLater;
#ifdef CORVANE_TEST_SWITCHES
  HoldForTests(path);
#endif
  HANDLE file = CreateFileA(path, GENERIC_WRITE | DELETE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                            nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) {
    DWORD error = GetLastError();
    return error == ERROR_FILE_NOT_FOUND ? kTryDone : CountTry(retry, error);
  }
  CloseHandle(file);
  return kTryDone;
}

void SleepUntilDue(const HoldRetry* retry) {
  LONG wait = static_cast<LONG>(retry->nextTry - GetTickCount());
  if (wait > 0) Sleep(static_cast<DWORD>(wait));
}

bool DeleteOwnFile(const char* path) {
  return WaitOutHolds([&](HoldRetry* retry) { return TryDeleteOwnFile(path, retry); });
}
