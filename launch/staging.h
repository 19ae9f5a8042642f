// Extraction at launch into a folder that holds the data directory (the data
// directory itself or a folder above it), where an archive's entries could
// otherwise replace the plug-in's own files.
#pragma once
#include "archive/archive.h"

// True when dataDir is extractFolder or lies below it at any depth, whatever
// the spelling of either (compared by file identity).
bool HoldsDataDirectory(const char* extractFolder, const char* dataDir);

// Extracts archivePath into a private folder inside tempDir, then moves every
// extracted file to the same place below extractFolder, replacing what is
// there, unless one of them would land on a plug-in file of dataDir
// (Setting.ini, the record of its own files, a dataset's .rel, .fol or .log file) or on a folder: then
// nothing is moved and the result is kArchiveRefused. The private folder is removed either
// way. Results as ExtractArchive's; on kArchiveExtracted, firstEntryPath (a 260-byte buffer)
// is extractFolder followed by the first entry's name.
ArchiveResult ExtractThroughStaging(const char* archivePath, const char* extractFolder, const char* dataDir,
                                    const char* tempDir, char* firstEntryPath);
