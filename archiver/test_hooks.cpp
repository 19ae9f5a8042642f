// The tests' switches and records (see test_hooks.h).
#include "archiver/test_hooks.h"

#include "archiver/archiver_state.h"
#include "base/text.h"

extern "C" {

void __stdcall ArcTestReset(void) {
  AcquireSRWLockExclusive(&gArchiverLock);
  gArchiver.callLog[0] = '\0';
  gArchiver.callLogOverflow = false;
  gArchiver.lastCommand[0] = '\0';
  gArchiver.lastRunOwner = nullptr;
  gArchiver.pauseReached = nullptr;
  gArchiver.pauseResume = nullptr;
  ReleaseSRWLockExclusive(&gArchiverLock);
  InterlockedExchange(&gArchiver.forcedBusy, 0);
  InterlockedExchange(&gArchiver.failOpen, 0);
  InterlockedExchange(&gArchiver.failNextClose, 0);
  InterlockedExchange(&gArchiver.failRun, 0);
}

void __stdcall ArcTestSetBusy(int busy) { InterlockedExchange(&gArchiver.forcedBusy, busy != 0); }

void __stdcall ArcTestFailOpen(int fail) { InterlockedExchange(&gArchiver.failOpen, fail != 0); }

void __stdcall ArcTestFailNextClose(int fail) { InterlockedExchange(&gArchiver.failNextClose, fail != 0); }

void __stdcall ArcTestFailExtraction(int fail) { InterlockedExchange(&gArchiver.failRun, fail != 0); }

int __stdcall ArcTestOpenHandles(void) {
  AcquireSRWLockShared(&gArchiverLock);
  size_t count = gArchiver.openHandles != nullptr ? gArchiver.openHandles->size() : 0;
  ReleaseSRWLockShared(&gArchiverLock);
  return static_cast<int>(count);
}

int __stdcall ArcTestCallLog(char* buffer, int bufferSize) {
  if (buffer == nullptr || bufferSize <= 0) return -1;
  AcquireSRWLockShared(&gArchiverLock);
  bool fits = CopyText(buffer, static_cast<size_t>(bufferSize), gArchiver.callLog);
  bool overflow = gArchiver.callLogOverflow;
  ReleaseSRWLockShared(&gArchiverLock);
  return fits && !overflow ? 0 : 1;
}

int __stdcall ArcTestLastCommand(char* buffer, int bufferSize) {
  if (buffer == nullptr || bufferSize <= 0) return -1;
  AcquireSRWLockShared(&gArchiverLock);
  bool fits = CopyText(buffer, static_cast<size_t>(bufferSize), gArchiver.lastCommand);
  ReleaseSRWLockShared(&gArchiverLock);
  return fits ? 0 : 1;
}

HWND __stdcall ArcTestLastRunOwner(void) {
  AcquireSRWLockShared(&gArchiverLock);
  HWND owner = gArchiver.lastRunOwner;
  ReleaseSRWLockShared(&gArchiverLock);
  return owner;
}

void __stdcall ArcTestPauseNextOperation(HANDLE reached, HANDLE resume) {
  AcquireSRWLockExclusive(&gArchiverLock);
  gArchiver.pauseReached = reached;
  gArchiver.pauseResume = resume;
  ReleaseSRWLockExclusive(&gArchiverLock);
}

}  // extern "C"
