// The six operations the plug-in binds by ordinal (see 7-zip32.def). Each is a
// thin shell: it marks the library busy, calls the work routine, and keeps C++
// exceptions (out of memory) from crossing the DLL boundary.
#include <windows.h>

#include <algorithm>
#include <new>

#include "archiver/archiver.h"
#include "archiver/archiver_state.h"
#include "base/archiver_interface.h"
#include "base/text.h"

ArchiverState gArchiver;
SRWLOCK gArchiverLock = SRWLOCK_INIT;

void LogCall(int ordinal) {
  AcquireSRWLockExclusive(&gArchiverLock);
  size_t length = strlen(gArchiver.callLog);
  char* end = gArchiver.callLog + length;
  if (!FormatText(end, sizeof gArchiver.callLog - length, length == 0 ? "%d" : ",%d", ordinal)) {
    // Keep the log a list of whole numbers; the reader learns it overflowed.
    *end = '\0';
    gArchiver.callLogOverflow = true;
  }
  ReleaseSRWLockExclusive(&gArchiverLock);
}

void BeginOperation(int ordinal) {
  LogCall(ordinal);
  InterlockedIncrement(&gArchiver.busyCount);
  AcquireSRWLockExclusive(&gArchiverLock);
  HANDLE reached = gArchiver.pauseReached;
  HANDLE resume = gArchiver.pauseResume;
  gArchiver.pauseReached = nullptr;
  gArchiver.pauseResume = nullptr;
  ReleaseSRWLockExclusive(&gArchiverLock);
  if (reached != nullptr) {
    // Lets a test observe the library busy in the middle of an operation; the
    // bound keeps a forgotten resume from hanging the process.
    SetEvent(reached);
    WaitForSingleObject(resume, 10000);
  }
}

void EndOperation() { InterlockedDecrement(&gArchiver.busyCount); }

static bool IsOpenHandle(ArchiveListing* listing) {
  std::vector<ArchiveListing*>* handles = gArchiver.openHandles;
  return handles != nullptr && std::find(handles->begin(), handles->end(), listing) != handles->end();
}

static ArchiveListing* FindOpenHandle(ArcHandle archive) {
  AcquireSRWLockShared(&gArchiverLock);
  ArchiveListing* listing = static_cast<ArchiveListing*>(archive);
  bool open = IsOpenHandle(listing);
  ReleaseSRWLockShared(&gArchiverLock);
  return open ? listing : nullptr;
}

// Reads the whole listing now, so that a handle never refers back to the file.
static ArcHandle OpenArchive(const char* archivePath) {
  if (archivePath == nullptr || gArchiver.failOpen) return nullptr;
  MappedFile mapped;
  Problem problem = nullptr;
  if (!OpenMappedFile(archivePath, &mapped, &problem)) return nullptr;
  ArchiveListing* listing = new (std::nothrow) ArchiveListing;
  bool read = listing != nullptr && ReadArchiveListing(mapped, listing, &problem);
  CloseMappedFile(&mapped);
  if (!read) {
    delete listing;
    return nullptr;
  }
  // Out of memory here must neither keep the lock nor lose the listing.
  bool registered = false;
  AcquireSRWLockExclusive(&gArchiverLock);
  try {
    if (gArchiver.openHandles == nullptr) gArchiver.openHandles = new std::vector<ArchiveListing*>;
    gArchiver.openHandles->push_back(listing);
    registered = true;
  } catch (...) {
    registered = false;
  }
  ReleaseSRWLockExclusive(&gArchiverLock);
  if (!registered) {
    delete listing;
    return nullptr;
  }
  return listing;
}

// An unknown or already closed handle is refused rather than freed twice.
static int CloseArchive(ArcHandle archive) {
  AcquireSRWLockExclusive(&gArchiverLock);
  ArchiveListing* listing = static_cast<ArchiveListing*>(archive);
  bool open = IsOpenHandle(listing);
  if (open) {
    std::vector<ArchiveListing*>* handles = gArchiver.openHandles;
    handles->erase(std::find(handles->begin(), handles->end(), listing));
  }
  ReleaseSRWLockExclusive(&gArchiverLock);
  if (!open) return -1;
  delete listing;
  // The forced failure still releases the handle: only the result lies.
  if (InterlockedExchange(&gArchiver.failNextClose, 0) != 0) return 1;
  return 0;
}

static int FindFirstEntry(ArcHandle archive, const char* pattern) {
  ArchiveListing* listing = FindOpenHandle(archive);
  if (listing == nullptr || pattern == nullptr) return -1;
  listing->current = -1;
  for (size_t i = 0; i < listing->entries.size(); ++i) {
    const ArchiveEntry& entry = listing->entries[i];
    // A name that did not convert is still an entry for "all"; its name query fails.
    bool matches = entry.nameUsable ? MatchesPattern(pattern, entry.name.c_str()) : MatchesEverything(pattern);
    if (matches) {
      listing->current = static_cast<int>(i);
      return 0;
    }
  }
  return -1;
}

// Refuses rather than cuts: a name that does not fit leaves the buffer empty.
static int CopyEntryName(ArcHandle archive, char* buffer, int bufferSize) {
  if (buffer == nullptr || bufferSize <= 0) return -1;
  buffer[0] = '\0';
  ArchiveListing* listing = FindOpenHandle(archive);
  if (listing == nullptr || listing->current < 0) return -1;
  const ArchiveEntry& entry = listing->entries[listing->current];
  if (!entry.nameUsable) return -1;
  if (!CopyText(buffer, static_cast<size_t>(bufferSize), entry.name.c_str())) {
    buffer[0] = '\0';
    return 1;
  }
  return 0;
}

extern "C" {

int __stdcall ArcRunCommand(HWND ownerWindow, const char* command, char* output, DWORD outputSize) {
  BeginOperation(1);
  AcquireSRWLockExclusive(&gArchiverLock);
  CopyText(gArchiver.lastCommand, sizeof gArchiver.lastCommand, command);
  gArchiver.lastRunOwner = ownerWindow;
  ReleaseSRWLockExclusive(&gArchiverLock);
  int result = kRunInternalError;
  if (gArchiver.failRun != 0) {
    if (output != nullptr && outputSize > 0) CopyText(output, outputSize, "error: extraction failed (test switch)");
    EndOperation();
    return kRunEntriesFailed;
  }
  try {
    result = RunArchiverCommand(command, output, outputSize);
  } catch (...) {
    if (output != nullptr && outputSize > 0) CopyText(output, outputSize, "internal error (out of memory)");
  }
  EndOperation();
  return result;
}

BOOL __stdcall ArcIsBusy(void) {
  LogCall(10);
  return gArchiver.busyCount > 0 || gArchiver.forcedBusy != 0;
}

ArcHandle __stdcall ArcOpen(HWND, const char* archivePath, DWORD) {
  BeginOperation(21);
  ArcHandle handle = nullptr;
  try {
    handle = OpenArchive(archivePath);
  } catch (...) {
    handle = nullptr;
  }
  EndOperation();
  return handle;
}

int __stdcall ArcClose(ArcHandle archive) {
  BeginOperation(22);
  int result = CloseArchive(archive);
  EndOperation();
  return result;
}

int __stdcall ArcFindFirst(ArcHandle archive, const char* pattern, void*) {
  BeginOperation(23);
  int result = FindFirstEntry(archive, pattern);
  EndOperation();
  return result;
}

int __stdcall ArcGetEntryName(ArcHandle archive, char* buffer, int bufferSize) {
  BeginOperation(40);
  int result = CopyEntryName(archive, buffer, bufferSize);
  EndOperation();
  return result;
}

}  // extern "C"
