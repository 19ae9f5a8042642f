// Extraction at launch through a private folder in the temp folder: what lands
// in the extraction folder is then known file by file, and no entry of the
// archive can replace the plug-in's own files when that folder holds the data
// directory (the data directory itself or a folder above it).
#pragma once
#include "archive/archive.h"

// Told of each file once it is in place: its path relative to the extraction
// folder and its full path there.
struct MovedFileNote {
  void (*moved)(void* context, const char* relative, const char* path);
  void* context;
};

// Extracts archivePath into a private folder inside tempDir, then moves every
// extracted file to the same place below extractFolder, replacing what is
// there, unless one of them would land on a plug-in file of dataDir
// (Setting.ini, the records of its own files and of extractions, a dataset's .rel, .fol or .log file)
// or on a folder: then nothing is moved and the result is kArchiveRefused.
// The extraction folder is made when it is not there. The private folder is
// removed either way. Results as ExtractArchive's; on kArchiveExtracted, firstEntryPath (a 260-byte buffer)
// is extractFolder followed by the first entry's name. note (may be null) hears of every
// file moved, on failures too.
ArchiveResult ExtractThroughStaging(const char* archivePath, const char* extractFolder, const char* dataDir,
                                    const char* tempDir, char* firstEntryPath, const MovedFileNote* note);
