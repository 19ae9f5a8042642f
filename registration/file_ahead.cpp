// The worker that prepares the next file. It works on the FileAhead record
// alone, between the run's hand-over (work set) and its own end of the file
// (done set); the run reads the record only after done.
#include "registration/file_ahead.h"

#include <cstring>

#include "archive/archive.h"
#include "base/test_switches.h"
#include "registration/held_copies.h"
#include "registration/run.h"

#ifdef CORVANE_TEST_SWITCHES
int gFilesTakenAhead = 0;
#endif

// The worker's own piece buffer, as large as the run's.
static constexpr size_t kAheadBufferSize = 1024 * 1024;
// A larger file is not prepared ahead: its copy would stand in temp beside
// the host's, twice the room, where the copy alone takes most of the time.
static constexpr DWORD kAheadMaxBytes = 256u << 20;

// The thread holds its own reference to the module, so that it can end even
// if the host unloads the plug-in meanwhile.
static DWORD WINAPI AheadThread(void* context) {
  FileAhead* ahead = static_cast<FileAhead*>(context);
  HMODULE module = ahead->module;
  for (;;) {
    WaitForSingleObject(ahead->work, INFINITE);
    if (ahead->quit != 0) break;
    ahead->result = PrepareCopyAtOnce(&ahead->file, ahead->headerSize, ahead->buffer, ahead->bufferSize, &ahead->stop,
                                      &ahead->made);
    InterlockedExchange(&ahead->finished, 1);
    if (InterlockedExchange(&ahead->waiting, 0) != 0) SetEvent(ahead->done);
  }
  // The record may be freed from here on: only the module is used.
  FreeLibraryAndExitThread(module, 0);
  return 0;
}

static void ReleaseWorker(FileAhead* ahead) {
  if (ahead->thread != nullptr) {
    InterlockedExchange(&ahead->stop, 1);
    InterlockedExchange(&ahead->quit, 1);
    SetEvent(ahead->work);
    WaitForSingleObject(ahead->thread, INFINITE);
    CloseHandle(ahead->thread);
    ahead->thread = nullptr;
  }
  if (ahead->work != nullptr) CloseHandle(ahead->work);
  if (ahead->done != nullptr) CloseHandle(ahead->done);
  if (ahead->buffer != nullptr) VirtualFree(ahead->buffer, 0, MEM_RELEASE);
  ahead->work = ahead->done = nullptr;
  ahead->buffer = nullptr;
  ahead->bufferSize = 0;
}

// The thread, its events and buffer, made with the first file handed over.
static bool StartWorker(FileAhead* ahead) {
  if (ahead->thread != nullptr) return true;
  ahead->buffer = static_cast<char*>(VirtualAlloc(nullptr, kAheadBufferSize, MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE));
  ahead->work = CreateEventA(nullptr, FALSE, FALSE, nullptr);
  ahead->done = CreateEventA(nullptr, FALSE, FALSE, nullptr);
  if (ahead->buffer != nullptr && ahead->work != nullptr && ahead->done != nullptr) {
    ahead->bufferSize = kAheadBufferSize;
    ahead->quit = 0;
    ahead->module = nullptr;
    if (GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS, reinterpret_cast<LPCSTR>(&AheadThread),
                           &ahead->module)) {
      ahead->thread = CreateThread(nullptr, 0, AheadThread, ahead, 0, nullptr);
      if (ahead->thread == nullptr) FreeLibrary(ahead->module);
    }
  }
  if (ahead->thread != nullptr) return true;
  // Without a worker every file goes the run's own way.
  ReleaseWorker(ahead);
  return false;
}

// The listing's next file, without moving the run's cursor; false when the
// folder is listed as it goes (no cursor to look ahead with) or ends.
static bool PeekNextFile(const RegistrationRun* run, WIN32_FIND_DATAA* entry) {
  const KeptCursor& cursor = run->process.folderListing;
  bool listing = cursor.listing.search != INVALID_HANDLE_VALUE && cursor.listing.search != nullptr;
  if (!cursor.open || listing) return false;
  KeptCursor peek = cursor;
  if (!NextKeptEntry(&run->folders, &peek)) return false;
  *entry = peek.entry;
  return true;
}

void PrepareNextFileAhead(RegistrationRun* run) {
  FileAhead* ahead = &run->ahead;
  if (ahead->state != kAheadIdle || run->folderIsTemp || run->headerSize < 0 || run->relation.failed) return;
  WIN32_FIND_DATAA entry;
  if (!PeekNextFile(run, &entry)) return;
  // What the run itself must look at, refuse or wait for stays with it.
  if (entry.nFileSizeHigh != 0 || entry.nFileSizeLow > kAheadMaxBytes || entry.nFileSizeLow < ahead->minBytes) return;
  if (strchr(entry.cFileName, '?') != nullptr || IsArchivePath(entry.cFileName)) return;
  FileInHand* file = &ahead->file;
  *file = FileInHand();
  const char* folder = run->folders.entries[run->process.folderIndex];
  if (!FormatText(file->sourcePath, sizeof file->sourcePath, "%s%s", folder, entry.cFileName) ||
      !FormatText(file->copyPath, sizeof file->copyPath, "%s%s", run->tempDir, entry.cFileName)) {
    return;
  }
#ifdef CORVANE_TEST_SWITCHES
  // A hold the switches make is made by the run's own opens.
  if (gTestSwitches.holdPathPart[0] != '\0' && strstr(file->sourcePath, gTestSwitches.holdPathPart) != nullptr) return;
#endif
  if (run->file.active && _stricmp(file->copyPath, run->file.copyPath) == 0) return;
  CopyText(file->readPath, sizeof file->readPath, file->sourcePath);
  if (!StartWorker(ahead)) return;
  ahead->headerSize = run->headerSize;
  ahead->result = kCopyLater;
  ahead->made = false;
  ahead->stop = ahead->finished = ahead->waiting = 0;
  ahead->state = kAheadPreparing;
  SetEvent(ahead->work);
}

bool IsFileAheadFor(const RegistrationRun* run, const char* sourcePath) {
  return run->ahead.state != kAheadIdle && strcmp(run->ahead.file.sourcePath, sourcePath) == 0;
}

static bool Finished(FileAhead* ahead) { return InterlockedCompareExchange(&ahead->finished, 0, 0) != 0; }

// The run no longer waits on done. When the worker took the wait up already,
// its signal is taken too, so that none is left for the next file.
static void WithdrawWait(FileAhead* ahead) {
  if (InterlockedExchange(&ahead->waiting, 0) == 0) WaitForSingleObject(ahead->done, INFINITE);
}

// Until the worker has ended the file: at most the piece in hand, a megabyte.
static void AwaitWorker(FileAhead* ahead) {
  InterlockedExchange(&ahead->waiting, 1);
  if (!Finished(ahead)) {
    WaitForSingleObject(ahead->done, INFINITE);
  } else {
    WithdrawWait(ahead);
  }
}

bool WaitForFileAhead(RegistrationRun* run, DWORD waitMs) {
  FileAhead* ahead = &run->ahead;
  if (ahead->state != kAheadPreparing) return ahead->state == kAheadReady;
  if (!Finished(ahead) && waitMs > 0) {
    InterlockedExchange(&ahead->waiting, 1);
    if (!Finished(ahead) &&
        MsgWaitForMultipleObjects(1, &ahead->done, FALSE, waitMs, QS_INPUT | QS_POSTMESSAGE) == WAIT_OBJECT_0) {
      ahead->state = kAheadReady;
      return true;
    }
    WithdrawWait(ahead);
  }
  if (Finished(ahead)) ahead->state = kAheadReady;
  return ahead->state == kAheadReady;
}

void DropFileAhead(RegistrationRun* run) {
  FileAhead* ahead = &run->ahead;
  if (ahead->state == kAheadIdle) return;
  if (ahead->state == kAheadPreparing) {
    InterlockedExchange(&ahead->stop, 1);
    AwaitWorker(ahead);
  }
  if (ahead->made) DeleteOrKeepForLater(&run->heldCopies, ahead->file.copyPath);
  ahead->made = false;
  ahead->state = kAheadIdle;
}

void EndFileAheadWorker(RegistrationRun* run) {
  ReleaseWorker(&run->ahead);
  run->ahead.state = kAheadIdle;
}
