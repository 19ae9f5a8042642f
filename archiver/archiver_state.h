// The stand-in's one process-wide state: the busy counter behind operation 10,
// the open handles, and the switches and records the tests read and set.
#pragma once
#include <windows.h>

#include <vector>

#include "archiver/archiver.h"

struct ArchiverState {
  volatile LONG busyCount;   // operations under way, in any thread
  volatile LONG forcedBusy;  // test switch: report busy regardless
  volatile LONG failOpen;    // test switch: every open gives null
  volatile LONG failNextClose;
  volatile LONG failRun;  // test switch: every run-command fails, touching no file
  HANDLE pauseReached;    // test switch: the next operation signals and waits
  HANDLE pauseResume;
  char callLog[1024];  // ordinals called since the last reset, "10,21,..."
  bool callLogOverflow;
  char lastCommand[2048];
  HWND lastRunOwner;
  std::vector<ArchiveListing*>* openHandles;  // made on first open
};

extern ArchiverState gArchiver;
// Guards the records above; operations themselves run unlocked.
extern SRWLOCK gArchiverLock;

// Every operation but the busy query runs between these two: the first logs the
// ordinal and raises the busy counter (and honours the pause switch), the second
// lowers it.
void BeginOperation(int ordinal);
void EndOperation();
void LogCall(int ordinal);
