// Extraction at launch into the data directory itself, where an archive's
// entries could otherwise replace the plug-in's own files.
#pragma once

// Extracts archivePath into a private folder inside tempDir, then moves every
// extracted file to the same place below extractFolder (which is the data
// directory), replacing what is there, unless one of them would land on a
// plug-in file (Setting.ini, a .rel or .fol file): then nothing is moved and
// the result is -1. The private folder is removed either way. Results as
// ExtractArchive's; on 0, firstEntryPath (a 260-byte buffer) is extractFolder
// followed by the first entry's name.
int ExtractIntoDataDirectory(const char* archivePath, const char* extractFolder, char* firstEntryPath);
