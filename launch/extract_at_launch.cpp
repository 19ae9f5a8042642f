#include "launch/extract_at_launch.h"

#include <windows.h>
#include <process.h>

#include "base/state.h"
#include "base/text.h"
#include "launch/extraction_record.h"
#include "launch/progress_window.h"
#include "launch/staging.h"

// One launch's extraction, handed to the worker thread: copies of what it
// reads of the plug-in's state, since the host may call in while it runs.
struct LaunchExtraction {
  char archivePath[kPathSize];
  char extractFolder[kPathSize];
  char dataDir[kPathSize];
  char tempDir[kPathSize];
  char firstEntryPath[kPathSize];
  ArchiveResult result;
};

static void NoteMoved(void* context, const char* relative, const char* path) {
  NoteExtractedFile(static_cast<ExtractedFiles*>(context), relative, path);
}

// Every file always goes through the staging folder, even into an ordinary
// extraction folder: only a folder of our own tells which files the
// extraction wrote, where a look at the extraction folder before and after
// would take in what others write there meanwhile.
static void ExtractOrReuse(LaunchExtraction* job) {
  char recordPath[kPathSize];
  bool recordable = FormatText(recordPath, sizeof recordPath, "%s%s", job->dataDir, kExtractionRecordName);
  ExtractionRecord record;
  if (recordable) LoadExtractionRecord(recordPath, &record);
  if (recordable && FindUnchangedExtraction(record, job->archivePath, job->extractFolder, job->firstEntryPath)) {
    job->result = kArchiveExtracted;
    ReleaseExtractionRecord(&record);
    return;
  }
  // Taken before the extraction runs: an archive that changes meanwhile is
  // then seen as changed at the next launch.
  FileStamp archiveStamp = {};
  bool stamped = ReadFileStamp(job->archivePath, &archiveStamp);
  ExtractedFiles files;
  MovedFileNote note = {NoteMoved, &files};
  job->result = ExtractThroughStaging(job->archivePath, job->extractFolder, job->dataDir, job->tempDir,
                                      job->firstEntryPath, &note);
  // A failed extraction may have replaced part of the files an earlier one
  // wrote: that one's entry goes too. A busy archiver touched nothing.
  bool extracted = job->result == kArchiveExtracted && stamped;
  if (recordable && job->result != kArchiveBusy) {
    SaveExtractionRecord(recordPath, record, job->archivePath, job->extractFolder, archiveStamp, job->firstEntryPath,
                         extracted ? &files : nullptr);
  }
  ReleaseExtractedFiles(&files);
  ReleaseExtractionRecord(&record);
}

static unsigned __stdcall ExtractionThread(void* context) {
  ExtractOrReuse(static_cast<LaunchExtraction*>(context));
  return 0;
}

ArchiveResult ExtractAtLaunch(const char* archivePath, char* firstEntryPath) {
  LaunchExtraction job = {};
  job.result = kArchiveRefused;
  if (!CopyText(job.archivePath, sizeof job.archivePath, archivePath) ||
      !CopyText(job.extractFolder, sizeof job.extractFolder, gState.profile.extractFolder) ||
      !CopyText(job.dataDir, sizeof job.dataDir, gState.dataDir) ||
      !CopyText(job.tempDir, sizeof job.tempDir, gState.tempDir)) {
    return kArchiveRefused;
  }
  // The C runtime's own start, since the worker uses it (formatting).
  HANDLE worker = reinterpret_cast<HANDLE>(_beginthreadex(nullptr, 0, ExtractionThread, &job, 0, nullptr));
  if (worker != nullptr) {
    WaitShowingProgress(worker, GetActiveWindow(), LastComponent(archivePath));
    CloseHandle(worker);
  } else {
    // No thread to be had: extracted here, holding the window as it used to.
    ExtractOrReuse(&job);
  }
  if (job.result == kArchiveExtracted) CopyText(firstEntryPath, kPathSize, job.firstEntryPath);
  return job.result;
}
