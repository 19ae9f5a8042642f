// The record file, little-endian throughout:
//   "CVXR", version (u32), number of extractions (u32), then each extraction:
//   its length after this field (u32), archive path (text), extraction folder
//   (text), the archive's size and last-write time (u64 each), number of files
//   (u32), then each file: its path relative to the extraction folder (text),
//   its size and last-write time (u64 each).
// A text is its length (u16, 1 to 259) and its bytes, no NUL among them.
#include "launch/extraction_record.h"

#include <windows.h>

#include <cstring>

#include "base/file_io.h"
#include "base/text.h"

static constexpr char kMagic[4] = {'C', 'V', 'X', 'R'};
static constexpr uint32_t kVersion = 1;
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
static bool TakeFile(Reader* reader, char* relative, FileStamp* stamp) {
  if (TakeText(reader, relative) && !NameStaysInsideFolder(relative)) reader->ok = false;
  return TakeStamp(reader, stamp);
}

static bool PutBytes(GrowableBuffer* out, const void* bytes, size_t size) { return AppendBytes(out, bytes, size); }

static bool PutText(GrowableBuffer* out, const char* text) {
  size_t length = strlen(text);
  if (length == 0 || length >= kPathSize) return false;
  uint16_t stored = static_cast<uint16_t>(length);
  return PutBytes(out, &stored, sizeof stored) && PutBytes(out, text, length);
}

static bool PutStamp(GrowableBuffer* out, const FileStamp& stamp) {
  return PutBytes(out, &stamp.size, sizeof stamp.size) && PutBytes(out, &stamp.writeTime, sizeof stamp.writeTime);
}

struct RecordedExtraction {
  char archivePath[kPathSize];
  char extractFolder[kPathSize];
  FileStamp archiveStamp;
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
  TakeStamp(&block, &extraction->archiveStamp);
  extraction->fileCount = TakeU32(&block);
  if (extraction->fileCount == 0 || extraction->fileCount > kMaxRecordedFiles) block.ok = false;
  extraction->files = block;
  char relative[kPathSize];
  FileStamp stamp;
  for (uint32_t i = 0; i < extraction->fileCount && block.ok; ++i) TakeFile(&block, relative, &stamp);
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

bool LoadExtractionRecord(const char* recordPath, ExtractionRecord* record) {
  record->bytes = GrowableBuffer();
  HANDLE file =
      CreateFileA(recordPath, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
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

bool FindUnchangedExtraction(const ExtractionRecord& record, const char* archivePath, const char* extractFolder,
                             char* firstEntryPath) {
  Reader reader;
  uint32_t count = 0;
  if (!StartExtractions(record.bytes, &reader, &count)) return false;
  RecordedExtraction extraction;
  for (uint32_t i = 0; i < count && TakeExtraction(&reader, &extraction); ++i) {
    if (!IsExtractionOf(extraction, archivePath, extractFolder)) continue;
    FileStamp now;
    if (!ReadFileStamp(archivePath, &now) || !SameStamp(now, extraction.archiveStamp)) return false;
    char first[kPathSize] = "";
    for (uint32_t file = 0; file < extraction.fileCount; ++file) {
      char relative[kPathSize];
      char path[kPathSize];
      FileStamp recorded;
      if (!TakeFile(&extraction.files, relative, &recorded) ||
          !FormatText(path, sizeof path, "%s%s", extractFolder, relative) || !ReadFileStamp(path, &now) ||
          !SameStamp(now, recorded)) {
        return false;
      }
      if (file == 0) CopyText(first, sizeof first, path);
    }
    return CopyText(firstEntryPath, kPathSize, first);
  }
  return false;
}

void NoteExtractedFile(ExtractedFiles* files, const char* relative, const char* path) {
  FileStamp stamp;
  if (files->unrecordable) return;
  if (files->count >= kMaxRecordedFiles || !ReadFileStamp(path, &stamp) || !PutText(&files->entries, relative) ||
      !PutStamp(&files->entries, stamp)) {
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
      FileStamp stamp;
      if (!TakeFile(&reader, relative, &stamp)) return false;
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
                          const FileStamp& archiveStamp, const char* firstEntryPath, const ExtractedFiles& files) {
  size_t folderLength = strlen(extractFolder);
  if (files.unrecordable || files.count == 0 || strncmp(firstEntryPath, extractFolder, folderLength) != 0) return false;
  size_t start = out->used;
  uint32_t length = 0;
  bool put = PutBytes(out, &length, sizeof length) && PutText(out, archivePath) && PutText(out, extractFolder) &&
             PutStamp(out, archiveStamp) && PutBytes(out, &files.count, sizeof files.count) &&
             PutFiles(out, files, firstEntryPath + folderLength) && out->used - start <= kMaxRecordBytes - kHeaderBytes;
  if (!put) {
    out->used = start;
    return false;
  }
  length = static_cast<uint32_t>(out->used - start - sizeof length);
  memcpy(out->bytes + start, &length, sizeof length);
  return true;
}

bool SaveExtractionRecord(const char* recordPath, const ExtractionRecord& record, const char* archivePath,
                          const char* extractFolder, const FileStamp& archiveStamp, const char* firstEntryPath,
                          const ExtractedFiles* files) {
  GrowableBuffer out;
  uint32_t count = 0;
  bool made = PutBytes(&out, kMagic, sizeof kMagic) && PutBytes(&out, &kVersion, sizeof kVersion) &&
              PutBytes(&out, &count, sizeof count);
  if (made && files != nullptr &&
      PutExtraction(&out, archivePath, extractFolder, archiveStamp, firstEntryPath, *files)) {
    ++count;
  }
  Reader reader;
  uint32_t oldCount = 0;
  RecordedExtraction extraction;
  if (made && StartExtractions(record.bytes, &reader, &oldCount)) {
    for (uint32_t i = 0; i < oldCount && made && TakeExtraction(&reader, &extraction); ++i) {
      if (IsExtractionOf(extraction, archivePath, extractFolder)) continue;
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
    saved = unchanged || ReplaceFileWhole(recordPath, out.bytes, out.used, kWriteExtractionRecord);
  }
  ReleaseBuffer(&out);
  return saved;
}
