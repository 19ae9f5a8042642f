// The record file, little-endian throughout:
//   "CVXR", version (u32), number of extractions (u32), then each extraction:
//   its length after this field (u32), archive path (text), extraction folder
//   (text), the archive's volume serial and file index (u32 each: serial,
//   high, low), size and last-write time (u64 each) and tail CRC (u32), the
//   first entry's name (text), the extraction folder's volume serial (u32),
//   number of files (u32), then each file: its path relative to the
//   extraction folder (text), its file index (u32 high, u32 low), its size and
//   last-write time (u64 each).
// A text is its length (u16, 1 to 259) and its bytes, no NUL among them.
#include "launch/extraction_record.h"

#include <windows.h>

#include <cstring>

#include "base/crc32.h"
#include "base/file_io.h"
#include "base/held_files.h"
#include "base/text.h"

static constexpr char kMagic[4] = {'C', 'V', 'X', 'R'};
static constexpr uint32_t kVersion = 2;
// The tail a zip's central directory or a 7z's header lies in.
static constexpr DWORD kTailBytes = 64 * 1024;
static constexpr size_t kHeaderBytes = 12;
static constexpr size_t kCountOffset = 8;

bool ReadFileStamp(const char* path, FileStamp* stamp) {
  WIN32_FILE_ATTRIBUTE_DATA data;
  if (!GetFileAttributesExA(path, GetFileExInfoStandard, &data)) return false;
  if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) return false;
  stamp->size = (static_cast<uint64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
  stamp->writeTime =
      (static_cast<uint64_t>(data.ftLastWriteTime.dwHighDateTime) << 32) | data.ftLastWriteTime.dwLowDateTime;
  return true;
}

static bool SameStamp(const FileStamp& a, const FileStamp& b) { return a.size == b.size && a.writeTime == b.writeTime; }

bool ReadArchiveProof(const char* archivePath, ArchiveProof* proof) {
  *proof = ArchiveProof();
  if (!GetIndexedIdentity(archivePath, &proof->identity) || !ReadFileStamp(archivePath, &proof->stamp)) return false;
  HANDLE file = CreateFileA(archivePath, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  DWORD want = proof->stamp.size < kTailBytes ? static_cast<DWORD>(proof->stamp.size) : kTailBytes;
  LARGE_INTEGER at = {};
  at.QuadPart = static_cast<LONGLONG>(proof->stamp.size - want);
  char* tail = static_cast<char*>(HeapAlloc(GetProcessHeap(), 0, kTailBytes));
  DWORD read = 0;
  bool whole = tail != nullptr && SetFilePointerEx(file, at, nullptr, FILE_BEGIN) &&
               ReadFile(file, tail, want, &read, nullptr) && read == want;
  if (whole) proof->tailCrc = Crc32Update(0, tail, read);
  if (tail != nullptr) HeapFree(GetProcessHeap(), 0, tail);
  CloseHandle(file);
  return whole;
}

static bool SameProof(const ArchiveProof& a, const ArchiveProof& b) {
  return SameIdentity(a.identity, b.identity) && SameStamp(a.stamp, b.stamp) && a.tailCrc == b.tailCrc;
}

// A cursor over bytes that may be damaged: every take checks what is left,
// and once one fails, ok stays false and every later take fails too.
struct Reader {
  const char* at;
  size_t left;
  bool ok;
};

static bool Take(Reader* reader, void* out, size_t size) {
  if (!reader->ok || reader->left < size) return reader->ok = false;
  memcpy(out, reader->at, size);
  reader->at += size;
  reader->left -= size;
  return true;
}

static uint32_t TakeU32(Reader* reader) {
  uint32_t value = 0;
  Take(reader, &value, sizeof value);
  return value;
}

static bool TakeStamp(Reader* reader, FileStamp* stamp) {
  return Take(reader, &stamp->size, sizeof stamp->size) && Take(reader, &stamp->writeTime, sizeof stamp->writeTime);
}

static bool TakeIndex(Reader* reader, FileIdentity* index) {
  index->volumeSerial = 0;
  index->indexHigh = TakeU32(reader);
  index->indexLow = TakeU32(reader);
  return reader->ok;
}

static bool TakeProof(Reader* reader, ArchiveProof* proof) {
  uint32_t serial = TakeU32(reader);
  TakeIndex(reader, &proof->identity);
  proof->identity.volumeSerial = serial;
  TakeStamp(reader, &proof->stamp);
  proof->tailCrc = TakeU32(reader);
  return reader->ok;
}

// Into a 260-byte buffer.
static bool TakeText(Reader* reader, char* text) {
  uint16_t length = 0;
  if (!Take(reader, &length, sizeof length)) return false;
  if (length == 0 || length >= kPathSize || reader->left < length || memchr(reader->at, '\0', length) != nullptr) {
    return reader->ok = false;
  }
  Take(reader, text, length);
  text[length] = '\0';
  return true;
}

// A damaged name must not lead the launch out of the extraction folder.
static bool TakeFile(Reader* reader, char* relative, FileIdentity* index, FileStamp* stamp) {
  if (TakeText(reader, relative) && !NameStaysInsideFolder(relative)) reader->ok = false;
  return TakeIndex(reader, index) && TakeStamp(reader, stamp);
}

static bool PutBytes(GrowableBuffer* out, const void* bytes, size_t size) { return AppendBytes(out, bytes, size); }

static bool PutU32(GrowableBuffer* out, uint32_t value) { return PutBytes(out, &value, sizeof value); }

static bool PutText(GrowableBuffer* out, const char* text) {
  size_t length = strlen(text);
  if (length == 0 || length >= kPathSize) return false;
  uint16_t stored = static_cast<uint16_t>(length);
  return PutBytes(out, &stored, sizeof stored) && PutBytes(out, text, length);
}

static bool PutStamp(GrowableBuffer* out, const FileStamp& stamp) {
  return PutBytes(out, &stamp.size, sizeof stamp.size) && PutBytes(out, &stamp.writeTime, sizeof stamp.writeTime);
}

static bool PutProof(GrowableBuffer* out, const ArchiveProof& proof) {
  return PutU32(out, proof.identity.volumeSerial) && PutU32(out, proof.identity.indexHigh) &&
         PutU32(out, proof.identity.indexLow) && PutStamp(out, proof.stamp) && PutU32(out, proof.tailCrc);
}

struct RecordedExtraction {
  char archivePath[kPathSize];
  char extractFolder[kPathSize];
  ArchiveProof proof;
  char firstEntryName[kPathSize];
  uint32_t folderVolume;
  uint32_t fileCount;
  Reader files;     // its file entries
  const char* raw;  // the whole extraction as stored, its length field included
  size_t rawSize;
};

// One extraction, checked to its last file; the reader stands behind it.
static bool TakeExtraction(Reader* reader, RecordedExtraction* extraction) {
  extraction->raw = reader->at;
  uint32_t length = TakeU32(reader);
  if (!reader->ok || length > reader->left) return reader->ok = false;
  Reader block = {reader->at, length, true};
  reader->at += length;
  reader->left -= length;
  extraction->rawSize = reader->at - extraction->raw;
  TakeText(&block, extraction->archivePath);
  TakeText(&block, extraction->extractFolder);
  TakeProof(&block, &extraction->proof);
  TakeText(&block, extraction->firstEntryName);
  if (block.ok && !NameStaysInsideFolder(extraction->firstEntryName)) block.ok = false;
  extraction->folderVolume = TakeU32(&block);
  extraction->fileCount = TakeU32(&block);
  if (extraction->fileCount == 0 || extraction->fileCount > kMaxRecordedFiles) block.ok = false;
  extraction->files = block;
  char relative[kPathSize];
  FileIdentity index;
  FileStamp stamp;
  for (uint32_t i = 0; i < extraction->fileCount && block.ok; ++i) {
    TakeFile(&block, relative, &index, &stamp);
    // The launched file is the first one, and it is the first entry.
    if (i == 0 && block.ok && strcmp(relative, extraction->firstEntryName) != 0) block.ok = false;
  }
  if (!block.ok || block.left != 0) return reader->ok = false;
  return true;
}

// The reader stands on the first extraction; false when the header is wrong.
static bool StartExtractions(const GrowableBuffer& bytes, Reader* reader, uint32_t* count) {
  *reader = {bytes.bytes, bytes.used, bytes.bytes != nullptr};
  char magic[sizeof kMagic] = {};
  Take(reader, magic, sizeof magic);
  uint32_t version = TakeU32(reader);
  *count = TakeU32(reader);
  return reader->ok && memcmp(magic, kMagic, sizeof magic) == 0 && version == kVersion &&
         *count <= kMaxRecordedArchives;
}

static bool IsWellFormed(const GrowableBuffer& bytes) {
  Reader reader;
  uint32_t count = 0;
  if (!StartExtractions(bytes, &reader, &count)) return false;
  RecordedExtraction extraction;
  for (uint32_t i = 0; i < count; ++i) {
    if (!TakeExtraction(&reader, &extraction)) return false;
  }
  return reader.left == 0;
}

static bool PendingPathOf(const char* recordPath, char* pending, size_t size) {
  size_t folderLength = static_cast<size_t>(LastComponent(recordPath) - recordPath);
  return FormatText(pending, size, "%.*s%s", static_cast<int>(folderLength), recordPath, kExtractionRecordPendingName);
}

bool LoadExtractionRecord(const char* recordPath, ExtractionRecord* record) {
  record->bytes = GrowableBuffer();
  // A record another program kept from its place is the newest: one try to
  // put it there, never a wait; read where it waits otherwise.
  char pending[kPathSize];
  const char* path = recordPath;
  if (PendingPathOf(recordPath, pending, sizeof pending) && GetFileAttributesA(pending) != INVALID_FILE_ATTRIBUTES) {
    HoldRetry once = {};
    if (TryMoveIntoPlace(pending, recordPath, &once) != kTryDone) path = pending;
  }
  // Full sharing: an indexer or a backup tool reading the record does not
  // keep this launch from it.
  HANDLE file = CreateFileA(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                            OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  LARGE_INTEGER size = {};
  DWORD read = 0;
  bool whole = GetFileSizeEx(file, &size) && size.QuadPart > 0 && size.QuadPart <= kMaxRecordBytes &&
               ReserveBytes(&record->bytes, static_cast<size_t>(size.QuadPart)) &&
               ReadFile(file, record->bytes.bytes, static_cast<DWORD>(size.QuadPart), &read, nullptr) &&
               read == size.QuadPart;
  CloseHandle(file);
  if (whole) record->bytes.used = read;
  if (whole && IsWellFormed(record->bytes)) return true;
  ReleaseExtractionRecord(record);
  return false;
}

void ReleaseExtractionRecord(ExtractionRecord* record) { ReleaseBuffer(&record->bytes); }

static bool IsExtractionOf(const RecordedExtraction& extraction, const char* archivePath, const char* extractFolder) {
  return strcmp(extraction.archivePath, archivePath) == 0 && strcmp(extraction.extractFolder, extractFolder) == 0;
}

// Every file the extraction wrote still stands where it was put, the same file
// (its index) with the same stamp.
static bool FilesAreUnchanged(RecordedExtraction* extraction) {
  FileIdentity folder;
  if (!GetIndexedIdentity(extraction->extractFolder, &folder) || folder.volumeSerial != extraction->folderVolume) {
    return false;
  }
  for (uint32_t file = 0; file < extraction->fileCount; ++file) {
    char relative[kPathSize];
    char path[kPathSize];
    FileIdentity recordedIndex, index;
    FileStamp recorded, now;
    if (!TakeFile(&extraction->files, relative, &recordedIndex, &recorded) ||
        !FormatText(path, sizeof path, "%s%s", extraction->extractFolder, relative) || !GetFileIndex(path, &index) ||
        !SameIdentity(index, recordedIndex) || !ReadFileStamp(path, &now) || !SameStamp(now, recorded)) {
      return false;
    }
  }
  return true;
}

ArchiveResult FindUnchangedExtraction(const ExtractionRecord& record, const char* archivePath,
                                      const char* extractFolder, char* firstEntryPath) {
  Reader reader;
  uint32_t count = 0;
  if (!StartExtractions(record.bytes, &reader, &count)) return kArchiveRefused;
  RecordedExtraction extraction;
  for (uint32_t i = 0; i < count && TakeExtraction(&reader, &extraction); ++i) {
    if (!IsExtractionOf(extraction, archivePath, extractFolder)) continue;
    ArchiveProof now;
    if (!ReadArchiveProof(archivePath, &now) || !SameProof(now, extraction.proof)) return kArchiveRefused;
    // The archiver's own word on which entry is first: a record whose first
    // file is another one never launches that file.
    char entryName[kPathSize];
    ArchiveResult named = ReadFirstEntryName(archivePath, entryName, sizeof entryName);
    if (named != kArchiveExtracted) return named == kArchiveBusy ? kArchiveBusy : kArchiveRefused;
    if (strcmp(entryName, extraction.firstEntryName) != 0 || !FilesAreUnchanged(&extraction)) return kArchiveRefused;
    return FormatText(firstEntryPath, kPathSize, "%s%s", extractFolder, entryName) ? kArchiveExtracted
                                                                                   : kArchiveRefused;
  }
  return kArchiveRefused;
}

void NoteExtractedFile(ExtractedFiles* files, const char* relative, const char* path) {
  FileStamp stamp;
  FileIdentity index;
  if (files->unrecordable) return;
  if (files->count >= kMaxRecordedFiles || !GetFileIndex(path, &index) || !ReadFileStamp(path, &stamp) ||
      !PutText(&files->entries, relative) || !PutU32(&files->entries, index.indexHigh) ||
      !PutU32(&files->entries, index.indexLow) || !PutStamp(&files->entries, stamp)) {
    files->unrecordable = true;
    return;
  }
  ++files->count;
}

void ReleaseExtractedFiles(ExtractedFiles* files) {
  ReleaseBuffer(&files->entries);
  *files = ExtractedFiles();
}

// Appends the files' entries, the first entry's (relative to the folder) first.
static bool PutFiles(GrowableBuffer* out, const ExtractedFiles& files, const char* firstRelative) {
  for (int pass = 0; pass < 2; ++pass) {
    Reader reader = {files.entries.bytes, files.entries.used, true};
    int firsts = 0;
    for (uint32_t i = 0; i < files.count; ++i) {
      const char* start = reader.at;
      char relative[kPathSize];
      FileIdentity index;
      FileStamp stamp;
      if (!TakeFile(&reader, relative, &index, &stamp)) return false;
      bool isFirst = strcmp(relative, firstRelative) == 0;
      firsts += isFirst ? 1 : 0;
      if (isFirst == (pass == 0) && !PutBytes(out, start, reader.at - start)) return false;
    }
    if (firsts != 1) return false;
  }
  return true;
}

// The new extraction as stored; false when it cannot be recorded.
static bool PutExtraction(GrowableBuffer* out, const char* archivePath, const char* extractFolder,
                          const ArchiveProof& proof, const char* firstEntryPath, const ExtractedFiles& files) {
  size_t folderLength = strlen(extractFolder);
  FileIdentity folder;
  if (files.unrecordable || files.count == 0 || strncmp(firstEntryPath, extractFolder, folderLength) != 0 ||
      !GetIndexedIdentity(extractFolder, &folder)) {
    return false;
  }
  const char* firstRelative = firstEntryPath + folderLength;
  size_t start = out->used;
  uint32_t length = 0;
  bool put = PutBytes(out, &length, sizeof length) && PutText(out, archivePath) && PutText(out, extractFolder) &&
             PutProof(out, proof) && PutText(out, firstRelative) && PutU32(out, folder.volumeSerial) &&
             PutU32(out, files.count) && PutFiles(out, files, firstRelative) &&
             out->used - start <= kMaxRecordBytes - kHeaderBytes;
  if (!put) {
    out->used = start;
    return false;
  }
  length = static_cast<uint32_t>(out->used - start - sizeof length);
  memcpy(out->bytes + start, &length, sizeof length);
  return true;
}

// Whether an earlier extraction names a file the new one wrote: what stands
// at one of its paths now is one of the new files. Its record would otherwise
// vouch for another archive's bytes.
static bool NamesAFileOf(RecordedExtraction* extraction, const ExtractedFiles& files) {
  for (uint32_t file = 0; file < extraction->fileCount; ++file) {
    char relative[kPathSize];
    char path[kPathSize];
    FileIdentity recordedIndex, index;
    FileStamp stamp;
    if (!TakeFile(&extraction->files, relative, &recordedIndex, &stamp)) return false;
    if (!FormatText(path, sizeof path, "%s%s", extraction->extractFolder, relative) || !GetFileIndex(path, &index)) {
      continue;
    }
    Reader written = {files.entries.bytes, files.entries.used, true};
    for (uint32_t i = 0; i < files.count; ++i) {
      FileIdentity writtenIndex;
      if (!TakeFile(&written, relative, &writtenIndex, &stamp)) break;
      if (SameIdentity(index, writtenIndex)) return true;
    }
  }
  return false;
}

// The new record under its own name, then put in place with one try; a
// record another program holds keeps the new one waiting beside it.
static bool WriteRecord(const char* recordPath, const GrowableBuffer& out) {
  char pending[kPathSize];
  if (!PendingPathOf(recordPath, pending, sizeof pending)) return false;
  HANDLE aside = CreateAsideFile(recordPath);
  if (aside == INVALID_HANDLE_VALUE) return false;
  if (!WriteChecked(aside, out.bytes, out.used, kWriteExtractionRecord)) {
    DiscardAsideFile(aside, recordPath);
    return false;
  }
  if (!NameFinishedAside(aside, recordPath, pending)) return false;
  HoldRetry once = {};
  TryMoveIntoPlace(pending, recordPath, &once);
  return true;
}

bool SaveExtractionRecord(const char* recordPath, const ExtractionRecord& record, const char* archivePath,
                          const char* extractFolder, const ArchiveProof& proof, const char* firstEntryPath,
                          const ExtractedFiles* files) {
  GrowableBuffer out;
  uint32_t count = 0;
  bool made = PutBytes(&out, kMagic, sizeof kMagic) && PutBytes(&out, &kVersion, sizeof kVersion) &&
              PutBytes(&out, &count, sizeof count);
  bool added =
      made && files != nullptr && PutExtraction(&out, archivePath, extractFolder, proof, firstEntryPath, *files);
  if (added) ++count;
  Reader reader;
  uint32_t oldCount = 0;
  RecordedExtraction extraction;
  if (made && StartExtractions(record.bytes, &reader, &oldCount)) {
    for (uint32_t i = 0; i < oldCount && made && TakeExtraction(&reader, &extraction); ++i) {
      if (IsExtractionOf(extraction, archivePath, extractFolder)) continue;
      if (files != nullptr) {
        RecordedExtraction looked = extraction;
        if (NamesAFileOf(&looked, *files)) continue;
      }
      if (count >= kMaxRecordedArchives || out.used + extraction.rawSize > kMaxRecordBytes) break;
      made = PutBytes(&out, extraction.raw, extraction.rawSize);
      ++count;
    }
  }
  bool saved = false;
  if (made) {
    memcpy(out.bytes + kCountOffset, &count, sizeof count);
    // Nothing to change (a failed extraction of an archive the record never
    // held): the file is not written again.
    bool unchanged = count == 0 ? record.bytes.used == 0
                                : out.used == record.bytes.used && memcmp(out.bytes, record.bytes.bytes, out.used) == 0;
    saved = unchanged || WriteRecord(recordPath, out);
  }
  ReleaseBuffer(&out);
  return saved;
}
