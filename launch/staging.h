// Extraction at launch through a private folder made inside the extraction
// folder: the whole archive lands there first, then each file goes into place
// by a rename on one volume, so no part of a file ever stands under the name
// of a file that was there (a user's), and what lands is known file by file.
// No entry can replace the plug-in's own files when the extraction folder
// holds the data directory (the data directory itself or a folder above it).
#pragma once
#include "archive/archive.h"
#include "base/text.h"

// Told of each file once it is in place: its path relative to the extraction
// folder and its full path there.
struct MovedFileNote {
  void (*moved)(void* context, const char* relative, const char* path);
  void* context;
};

// Why an extraction at launch failed, for the box that says so.
enum StagingFailure {
  kStagingDone,
  kStagingNoRoom,       // the extraction folder's volume is full
  kStagingPathTooLong,  // a path does not fit 259 bytes
  kStagingInUse,        // another program holds a file that would be replaced
  kStagingRefused,      // anything else (said nothing about, as before)
};

struct StagingOutcome {
  ArchiveResult result = kArchiveRefused;
  StagingFailure failure = kStagingRefused;
  char path[kPathSize] = "";  // what failed: the file in use, the path that does not fit, the full folder
};

// Extracts archivePath into a private folder inside extractFolder (made with
// its parents when it is not there), then, once every entry is there and
// every file it would replace can be replaced, renames each one into place,
// replacing what is there. Nothing is put in place when one would land on a
// plug-in file of dataDir (Setting.ini, the records of its own files and of
// extractions, a dataset's .rel, .fol or .log file), on a folder, in the
// private folder itself, or when *abandoned (may be null) is set by then. The
// private folder is removed either way. On kArchiveExtracted, firstEntryPath
// (a 260-byte buffer) is extractFolder followed by the first entry's name.
// note (may be null) hears of every file moved, on failures too.
void ExtractThroughStaging(const char* archivePath, const char* extractFolder, const char* dataDir,
                           char* firstEntryPath, const MovedFileNote* note, const volatile LONG* abandoned,
                           StagingOutcome* outcome);
