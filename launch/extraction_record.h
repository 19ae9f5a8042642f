// What launches extracted, so that a later launch of an unchanged archive
// starts the files already there instead of extracting them again. Kept in
// "Extracted.dat" in the data folder: the last kMaxRecordedArchives
// extractions, newest first, each with the archive's path, size and last-write
// time, the extraction folder, and every file the extraction wrote there (the
// launched first entry first) with its size and last-write time.
#pragma once
#include <cstddef>
#include <cstdint>

#include "base/growable_buffer.h"

constexpr char kExtractionRecordName[] = "Extracted.dat";
constexpr uint32_t kMaxRecordedArchives = 16;
// An extraction that wrote more files than this is not recorded: its archive
// is extracted at every launch, as before.
constexpr uint32_t kMaxRecordedFiles = 1024;
// Bounds the file read at every launch; the oldest extractions make way.
constexpr size_t kMaxRecordBytes = 1u << 20;

// A file's size and last-write time, as the system reports them.
struct FileStamp {
  uint64_t size;
  uint64_t writeTime;
};

// False for a folder, or when nothing can be read about path.
bool ReadFileStamp(const char* path, FileStamp* stamp);

// The record file as read, every length in it checked.
struct ExtractionRecord {
  GrowableBuffer bytes;
};

// Reads the record file whole. A missing, unreadable, damaged or oversized
// file leaves an empty record (false): every archive is then extracted.
bool LoadExtractionRecord(const char* recordPath, ExtractionRecord* record);
void ReleaseExtractionRecord(ExtractionRecord* record);

// True, with the path of the launched first entry in firstEntryPath (a
// 260-byte buffer), when the record holds an extraction of archivePath into
// extractFolder and neither the archive nor any file it wrote has changed
// since (same size and last-write time; none missing). Changes nothing.
bool FindUnchangedExtraction(const ExtractionRecord& record, const char* archivePath, const char* extractFolder,
                             char* firstEntryPath);

// The files one extraction wrote, collected while they are moved into place.
struct ExtractedFiles {
  GrowableBuffer entries;  // each: its path relative to the extraction folder, then its stamp
  uint32_t count = 0;
  bool unrecordable = false;  // too many, a stamp not read, or out of memory
};

// Notes a file the extraction put at path (relative below the extraction folder).
void NoteExtractedFile(ExtractedFiles* files, const char* relative, const char* path);
void ReleaseExtractedFiles(ExtractedFiles* files);

// Saves the record with this archive's extraction replaced: by the one
// described (archiveStamp taken before it ran, firstEntryPath below
// extractFolder one of files) as the newest, or by nothing when files is null
// or cannot be recorded. Older extractions are kept as the bounds allow. The
// file is written aside and moved in place; false leaves it as it was.
bool SaveExtractionRecord(const char* recordPath, const ExtractionRecord& record, const char* archivePath,
                          const char* extractFolder, const FileStamp& archiveStamp, const char* firstEntryPath,
                          const ExtractedFiles* files);
