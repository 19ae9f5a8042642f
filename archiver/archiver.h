// Internal records and routines of the archiver stand-in. An archive is read
// whole from a read-only mapping into an ArchiveListing (its entries in stored
// order); extraction reads the mapping again: a zip entry's bytes stream
// through a ByteSink into its output file, a 7z file's come from its folder,
// decoded whole.
#pragma once
#include <windows.h>

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

// Failures are reported as fixed ASCII texts (static storage), so that a reader
// can say what went wrong without owning any memory.
typedef const char* Problem;

enum ArchiveFormat { kFormatZip, kFormatSevenZip };

// One entry as stored. The name is a relative path with "\" separators in code
// page 932; a name the code page cannot carry whole is spelt there with "?"
// for each character it lacks, and wideName holds it whole (empty
// otherwise). nameUsable is false when the stored name could not be decoded,
// nameSafe false when it would leave the output folder (absolute, a drive,
// a leading separator, a ".." component) or name a device (NUL, COM1, ...).
struct ArchiveEntry {
  std::string name;
  std::wstring wideName;
  bool nameUsable = false;
  bool nameSafe = false;
  bool isDirectory = false;
  uint64_t size = 0;
  bool hasCrc = false;
  uint32_t crc = 0;
  // zip: where the local header starts and how the data is stored.
  uint64_t localOffset = 0;
  uint64_t packedSize = 0;
  uint16_t method = 0;
  uint16_t flags = 0;
};

struct ArchiveListing {
  ArchiveFormat format = kFormatZip;
  std::vector<ArchiveEntry> entries;
  int current = -1;  // the entry the find operation stands on, -1 none
};

// Receives decoded bytes in order; returns false to stop decoding.
struct ByteSink {
  bool (*write)(void* context, const uint8_t* data, size_t size);
  void* context;
};

// --- mapped_file.cpp ---------------------------------------------------------
struct MappedFile {
  HANDLE file = INVALID_HANDLE_VALUE;
  HANDLE mapping = nullptr;
  const uint8_t* data = nullptr;
  uint64_t size = 0;
};
// Maps the whole file read-only; writers are shut out while it is mapped so the
// view cannot shrink under us. An empty file opens with data null and size 0.
bool OpenMappedFile(const char* path, MappedFile* mapped, Problem* problem);
void CloseMappedFile(MappedFile* mapped);

// --- names.cpp ---------------------------------------------------------------
// Fill entry->name/nameUsable/nameSafe/isDirectory (a trailing separator marks a
// directory and is dropped) from a stored name in one of three encodings.
void SetNameFromCp932(ArchiveEntry* entry, const char* bytes, size_t length);
void SetNameFromUtf8(ArchiveEntry* entry, const char* bytes, size_t length);
void SetNameFromUtf16(ArchiveEntry* entry, const wchar_t* text, size_t length);
// Wildcard match of a code page 932 name: "*" any run, "?" one character,
// ASCII letters without case; "*.*" and "*" match every name.
bool MatchesPattern(const char* pattern, const char* name);
bool MatchesEverything(const char* pattern);
// Steps over one code page 932 character (one or two bytes).
const char* NextCp932Char(const char* p);

// --- zip_reader.cpp ----------------------------------------------------------
bool LooksLikeZip(const uint8_t* data, uint64_t size);
bool ReadZipListing(const uint8_t* data, uint64_t size, ArchiveListing* listing, Problem* problem);
// Streams one file entry's bytes into sink and checks its size and CRC-32.
bool ExtractZipEntry(const uint8_t* data, uint64_t size, const ArchiveEntry& entry, ByteSink* sink, Problem* problem);

// --- sevenzip.cpp ------------------------------------------------------------
// An open 7z archive: the SDK's records over the mapped bytes, which must stay
// mapped until it is closed.
struct SevenZipArchive;
bool LooksLikeSevenZip(const uint8_t* data, uint64_t size);
// Reads the archive's records and lists its entries (index i is file i);
// null, with the reason, when it cannot be read.
SevenZipArchive* OpenSevenZip(const uint8_t* data, uint64_t size, ArchiveListing* listing, Problem* problem);
void CloseSevenZip(SevenZipArchive* archive);
bool ReadSevenZipListing(const uint8_t* data, uint64_t size, ArchiveListing* listing, Problem* problem);
// Points bytes at file index's contents, checked against their CRC-32; they
// stay valid until the next call or the close.
bool DecodeSevenZipFile(SevenZipArchive* archive, size_t index, const uint8_t** bytes, size_t* size, Problem* problem);

// --- extract.cpp -------------------------------------------------------------
// Reads the archive at path into listing (format chosen by signature).
bool ReadArchiveListing(const MappedFile& mapped, ArchiveListing* listing, Problem* problem);

struct ExtractResult {
  int files = 0;
  int folders = 0;
  int failed = 0;
  int firstFailedEntry = -1;  // index of the first failed entry, -1 when the archive itself failed
  Problem firstProblem = nullptr;
};
// Extracts every entry matching one of patterns below outputFolder, replacing
// files, or with skipExisting leaving a file already there (an earlier entry of
// the same name's) as it is. True when the archive was read and no matching
// entry failed.
bool ExtractArchiveTo(const char* archivePath, const char* outputFolder, const std::vector<std::string>& patterns,
                      bool skipExisting, ExtractResult* result);

// --- command.cpp -------------------------------------------------------------
// Runs one command line of the form  x "ARCHIVE" -aoa|-aos -hide "OUTDIR" PATTERN...
// and writes a short ASCII report; 0 on success.
int RunArchiverCommand(const char* command, char* output, DWORD outputSize);

// Result codes of the run-command operation (0 is success).
constexpr int kRunBadCommand = 1;
constexpr int kRunArchiveUnreadable = 2;
constexpr int kRunEntriesFailed = 3;
constexpr int kRunInternalError = 4;
