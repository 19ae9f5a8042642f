#include "launch/extract_at_launch.h"

#include <windows.h>

#include <cstring>
#include <new>

#include "base/crc32.h"
#include "base/state.h"
#include "base/texts.h"
#include "launch/extraction_record.h"
#include "launch/progress_window.h"
#include "launch/staging.h"

// One launch's work, shared by the host's window thread and the worker: the
// one that lets go of it last frees it, since a launch the host abandons
// returns while the worker still runs. It holds copies of what it reads of
// the plug-in's state, since the host may call in meanwhile.
struct LaunchJob {
  volatile LONG references = 1;
  volatile LONG abandoned = 0;
  HMODULE module = nullptr;  // the worker's own reference
  char sourcePath[kPathSize] = "";
  char extractFolder[kPathSize] = "";
  char dataDir[kPathSize] = "";
  char crcText[9] = "";
  int32_t headerSize = 0;
  bool extract = false;
  bool check = false;
  char launchPath[kPathSize] = "";
  LaunchPrepared result = kLaunchFailed;
  StagingOutcome outcome;
  bool changed = false;  // the file to launch no longer has the line's CRC
};

// The launch waiting for its worker, if any; only the host's window thread
// touches it.
static LaunchJob* gWaitingJob = nullptr;
// Workers not yet ended, an abandoned one included.
static volatile LONG gWorkersRunning = 0;

static void ReleaseJob(LaunchJob* job) {
  if (InterlockedDecrement(&job->references) == 0) delete job;
}

static void NoteMoved(void* context, const char* relative, const char* path) {
  NoteExtractedFile(static_cast<ExtractedFiles*>(context), relative, path);
}

// Every file always goes through the staging folder, even into an ordinary
// extraction folder: only a folder of our own tells which files the
// extraction wrote, where a look at the extraction folder before and after
// would take in what others write there meanwhile.
static void ExtractOrReuse(LaunchJob* job) {
  char recordPath[kPathSize];
  bool recordable = FormatText(recordPath, sizeof recordPath, "%s%s", job->dataDir, kExtractionRecordName);
  ExtractionRecord record;
  if (recordable) LoadExtractionRecord(recordPath, &record);
  ArchiveResult reused = recordable
                             ? FindUnchangedExtraction(record, job->sourcePath, job->extractFolder, job->launchPath)
                             : kArchiveRefused;
  if (reused == kArchiveExtracted || reused == kArchiveBusy) {
    job->result = reused == kArchiveBusy ? kLaunchArchiverBusy : kLaunchReady;
    ReleaseExtractionRecord(&record);
    return;
  }
  // Taken before the extraction runs: an archive that changes meanwhile is
  // then seen as changed at the next launch.
  ArchiveProof proof;
  bool proven = ReadArchiveProof(job->sourcePath, &proof);
  ExtractedFiles files;
  MovedFileNote note = {NoteMoved, &files};
  ExtractThroughStaging(job->sourcePath, job->extractFolder, job->dataDir, job->launchPath, &note, &job->abandoned,
                        &job->outcome);
  const ArchiveResult result = job->outcome.result;
  job->result = result == kArchiveExtracted ? kLaunchReady
                : result == kArchiveBusy    ? kLaunchArchiverBusy
                                            : kLaunchFailed;
  // A failed extraction may have replaced part of the files an earlier one
  // wrote: that one's entry goes too. A busy archiver touched nothing.
  bool extracted = result == kArchiveExtracted && proven;
  if (recordable && result != kArchiveBusy && job->abandoned == 0) {
    SaveExtractionRecord(recordPath, record, job->sourcePath, job->extractFolder, proof, job->launchPath,
                         extracted ? &files : nullptr);
  }
  ReleaseExtractedFiles(&files);
  ReleaseExtractionRecord(&record);
}

// The CRC of the file after its header, as registration computed the line's.
static bool ComputeCrcAfterHeader(const char* path, int32_t headerSize, const volatile LONG* abandoned, uint32_t* crc) {
  HANDLE file = CreateFileA(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                            FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  LARGE_INTEGER start = {};
  start.QuadPart = headerSize > 0 ? headerSize : 0;
  bool ok = SetFilePointerEx(file, start, nullptr, FILE_BEGIN) != 0;
  static constexpr DWORD kChunk = 1u << 16;
  char* buffer = static_cast<char*>(HeapAlloc(GetProcessHeap(), 0, kChunk));
  ok = ok && buffer != nullptr;
  *crc = 0;
  for (DWORD read = kChunk; ok && read == kChunk && *abandoned == 0;) {
    ok = ReadFile(file, buffer, kChunk, &read, nullptr) != 0;
    if (ok) *crc = Crc32Update(*crc, buffer, read);
  }
  if (buffer != nullptr) HeapFree(GetProcessHeap(), 0, buffer);
  CloseHandle(file);
  return ok && *abandoned == 0;
}

static void Prepare(LaunchJob* job) {
  if (job->extract) {
    ExtractOrReuse(job);
  } else {
    job->result = CopyText(job->launchPath, sizeof job->launchPath, job->sourcePath) ? kLaunchReady : kLaunchFailed;
  }
  if (job->result != kLaunchReady || !job->check) return;
  // A short name may have passed to another file since the line was written:
  // only the same contents prove it is still the registered one.
  uint32_t crc = 0;
  char text[sizeof job->crcText];
  job->changed = !ComputeCrcAfterHeader(job->launchPath, job->headerSize, &job->abandoned, &crc) ||
                 !FormatText(text, sizeof text, "%08X", crc) || strcmp(text, job->crcText) != 0;
  if (job->changed) job->result = kLaunchFailed;
}

// The worker holds its own reference to the module and lets go of it as it
// ends: a host that unloads the plug-in right after closing it cannot take
// the code from under a worker still running.
static DWORD WINAPI LaunchThread(void* context) {
  LaunchJob* job = static_cast<LaunchJob*>(context);
  HMODULE module = job->module;
  Prepare(job);
  ReleaseJob(job);
  InterlockedDecrement(&gWorkersRunning);
  FreeLibraryAndExitThread(module, 0);
  return 0;
}

// What the user can act on is named; anything else fails as before, silently.
static void ShowFailure(HWND owner, const LaunchJob& job) {
  const char* format = nullptr;
  const char* path = job.outcome.path;
  if (job.changed) {
    // The relation line's file: the archive when its entry was checked.
    format = kTextLaunchChanged;
    path = job.sourcePath;
  } else if (job.outcome.failure == kStagingNoRoom) {
    format = kTextLaunchNoRoom;
  } else if (job.outcome.failure == kStagingPathTooLong) {
    format = kTextLaunchPathTooLong;
  } else if (job.outcome.failure == kStagingInUse) {
    format = kTextLaunchInUse;
  }
  if (format == nullptr) return;
  char text[2 * kPathSize];
  FormatText(text, sizeof text, format, path);
  MessageBoxA(owner, text, nullptr, MB_OK | MB_ICONWARNING);
}

LaunchPrepared PrepareLaunch(const LaunchRequest& request, char* launchPath) {
  launchPath[0] = '\0';
  // A launch the host abandoned may still be extracting or saving the record:
  // a second one beside it could meet its half-made files.
  if (LaunchWorkersRunning() > 0) return kLaunchArchiverBusy;
  LaunchJob* job = new (std::nothrow) LaunchJob();
  if (job == nullptr) return kLaunchFailed;
  job->extract = request.extract;
  job->check = request.crcText != nullptr;
  job->headerSize = gState.profile.headerSize;
  if (!CopyText(job->sourcePath, sizeof job->sourcePath, request.sourcePath) ||
      !CopyText(job->extractFolder, sizeof job->extractFolder, gState.profile.extractFolder) ||
      !CopyText(job->dataDir, sizeof job->dataDir, gState.dataDir) ||
      (job->check && !CopyText(job->crcText, sizeof job->crcText, request.crcText))) {
    ReleaseJob(job);
    return kLaunchFailed;
  }
  // The host's window is taken before the wait disables it.
  HWND owner = GetActiveWindow();
  HANDLE worker = nullptr;
  if (GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS, reinterpret_cast<LPCSTR>(&LaunchThread),
                         &job->module)) {
    job->references = 2;
    InterlockedIncrement(&gWorkersRunning);
    // The C runtime is the system's msvcrt.dll, which sets up and frees a
    // thread's own data itself, so a plain thread may format text.
    worker = CreateThread(nullptr, 0, LaunchThread, job, 0, nullptr);
    if (worker == nullptr) {
      job->references = 1;
      InterlockedDecrement(&gWorkersRunning);
      FreeLibrary(job->module);
    }
  }
  bool ended = true;
  if (worker != nullptr) {
    gWaitingJob = job;
    ended = WaitShowingProgress(worker, owner, LastComponent(request.sourcePath), &job->abandoned);
    gWaitingJob = nullptr;
    CloseHandle(worker);
  } else {
    // No thread to be had: prepared here, holding the window as it used to.
    Prepare(job);
  }
  LaunchPrepared result = job->abandoned != 0 || !ended ? kLaunchAbandoned : job->result;
  if (result == kLaunchReady) CopyText(launchPath, kPathSize, job->launchPath);
  if (result == kLaunchFailed) ShowFailure(owner, *job);
  ReleaseJob(job);
  return result;
}

int LaunchWorkersRunning() { return static_cast<int>(gWorkersRunning); }

void AbandonWaitingLaunch() {
  if (gWaitingJob != nullptr) InterlockedExchange(&gWaitingJob->abandoned, 1);
}
