// What launches extracted, so that a later launch of an unchanged archive
// starts the files already there instead of extracting them again. Kept in
// "Extracted.dat" in the data folder: the last kMaxRecordedArchives
// extractions, newest first, each with the archive's path and proof (its
// identity, size, last-write time and a CRC-32 of its last 64 KiB, where a
// zip's central directory and a 7z's header lie, which carry every entry's
// CRC), the extraction folder and its volume, the first entry's name, and
// every file the extraction wrote there (the launched first entry first) with
// its file index, size and last-write time. A record says where to look: an
// extraction is reused only when all of this holds at that moment.
#pragma once
#include <cstddef>
#include <cstdint>

#include "archive/archive.h"
#include "base/file_identity.h"
#include "base/growable_buffer.h"

constexpr char kExtractionRecordName[] = "Extracted.dat";
// A record that could not be put in place (another program held the record):
// the next launch puts it there, or reads it where it waits.
constexpr char kExtractionRecordPendingName[] = "Extracted.dat.pending";
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

// What tells an archive from another one at its path.
struct ArchiveProof {
  FileIdentity identity;
  FileStamp stamp;
  uint32_t tailCrc;  // of its last 64 KiB (all of a smaller one)
};

bool ReadArchiveProof(const char* archivePath, ArchiveProof* proof);

// The record file as read, every length in it checked.
struct ExtractionRecord {
  GrowableBuffer bytes;
};

// Reads the record file whole (a pending one first put in place with one try,
// or read where it waits). A missing, unreadable, damaged or oversized file
// leaves an empty record (false): every archive is then extracted.
bool LoadExtractionRecord(const char* recordPath, ExtractionRecord* record);
void ReleaseExtractionRecord(ExtractionRecord* record);

// kArchiveExtracted, with the path of the launched first entry in
// firstEntryPath (a 260-byte buffer), when the record holds an extraction of
// archivePath into extractFolder, the archive is provably the one extracted
// (its proof and its first entry's name, asked of the archiver now), and
// every file it wrote still stands there with its recorded index and stamp.
// kArchiveBusy when the archiver could not be asked; kArchiveRefused
// otherwise. Changes nothing.
ArchiveResult FindUnchangedExtraction(const ExtractionRecord& record, const char* archivePath,
                                      const char* extractFolder, char* firstEntryPath);

// The files one extraction wrote, collected while they are moved into place.
struct ExtractedFiles {
  GrowableBuffer entries;  // each: its path relative to the extraction folder, its index, its stamp
  uint32_t count = 0;
  bool unrecordable = false;  // too many, a stamp not read, or out of memory
};

// Notes a file the extraction put at path (relative below the extraction folder).
void NoteExtractedFile(ExtractedFiles* files, const char* relative, const char* path);
void ReleaseExtractedFiles(ExtractedFiles* files);

// Saves the record with this archive's extraction replaced: by the one
// described (proof taken before it ran, firstEntryPath below extractFolder
// one of files) as the newest, or by nothing when files is null or cannot be
// recorded. Every other extraction that names a file this one wrote goes;
// the others are kept as the bounds allow. The file is written aside and put
// in place with one try: when another program holds the record, the new one
// waits as the pending record for the next launch. False when nothing was saved.
bool SaveExtractionRecord(const char* recordPath, const ExtractionRecord& record, const char* archivePath,
                          const char* extractFolder, const ArchiveProof& proof, const char* firstEntryPath,
                          const ExtractedFiles* files);
