// 7z archives, read by the LZMA SDK's archive reader (third_party/lzma_sdk)
// straight from the mapped file. A folder is decoded whole on first use and
// kept while the files after it in the same folder are taken from it.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <new>
#include <string>
#include <vector>

#include "7z.h"
#include "7zCrc.h"
#include "archiver/archiver.h"

namespace {

constexpr UInt32 kNoFolder = static_cast<UInt32>(-1);
constexpr UInt32 kAesMethod = 0x06F10701;
constexpr Byte kSignature[6] = {'7', 'z', 0xBC, 0xAF, 0x27, 0x1C};
// ROM archives have small headers; a lying packed-header size must not claim
// the process's memory before its CRC-32 can refuse it.
constexpr size_t kMaxHeaderAllocation = 64 * 1024 * 1024;

void* Allocate(ISzAllocPtr, size_t size) { return size == 0 ? nullptr : malloc(size); }
void* AllocateForHeader(ISzAllocPtr, size_t size) {
  return size == 0 || size > kMaxHeaderAllocation ? nullptr : malloc(size);
}
void Release(ISzAllocPtr, void* address) { free(address); }

const ISzAlloc kHeap = {Allocate, Release};
const ISzAlloc kHeaderHeap = {AllocateForHeader, Release};

// The SDK's look-ahead stream over the mapped bytes: looking is pointing into
// the view, so nothing is copied on the way to the decoders.
struct MappedStream {
  ILookInStream vt;  // first, so the SDK's pointer is the record's
  const uint8_t* data;
  uint64_t size;
  uint64_t pos;
};

size_t Available(const MappedStream* s, size_t wanted) {
  uint64_t left = s->pos < s->size ? s->size - s->pos : 0;
  return left < wanted ? static_cast<size_t>(left) : wanted;
}

SRes Look(ILookInStreamPtr p, const void** buf, size_t* size) {
  const MappedStream* s = reinterpret_cast<const MappedStream*>(p);
  *size = Available(s, *size);
  *buf = *size != 0 ? s->data + s->pos : nullptr;
  return SZ_OK;
}

SRes Skip(ILookInStreamPtr p, size_t offset) {
  // The SDK's interfaces are const; the position is the stream's only state.
  MappedStream* s = const_cast<MappedStream*>(reinterpret_cast<const MappedStream*>(p));
  s->pos += Available(s, offset);
  return SZ_OK;
}

SRes Read(ILookInStreamPtr p, void* buf, size_t* size) {
  MappedStream* s = const_cast<MappedStream*>(reinterpret_cast<const MappedStream*>(p));
  *size = Available(s, *size);
  if (*size != 0) memcpy(buf, s->data + s->pos, *size);
  s->pos += *size;
  return SZ_OK;
}

SRes Seek(ILookInStreamPtr p, Int64* pos, ESzSeek origin) {
  MappedStream* s = const_cast<MappedStream*>(reinterpret_cast<const MappedStream*>(p));
  Int64 base = origin == SZ_SEEK_SET   ? 0
               : origin == SZ_SEEK_CUR ? static_cast<Int64>(s->pos)
                                       : static_cast<Int64>(s->size);
  if (*pos < -base || *pos > INT64_MAX - base) return SZ_ERROR_PARAM;
  s->pos = static_cast<uint64_t>(base + *pos);
  *pos = static_cast<Int64>(s->pos);
  return SZ_OK;
}

INIT_ONCE gCrcTableOnce = INIT_ONCE_STATIC_INIT;

BOOL CALLBACK MakeCrcTable(PINIT_ONCE, PVOID, PVOID*) {
  CrcGenerateTable();
  return TRUE;
}

Problem OpenProblem(SRes result) {
  switch (result) {
    case SZ_ERROR_NO_ARCHIVE:
      return "not a 7z archive";
    case SZ_ERROR_UNSUPPORTED:
      return "7z format version or header coding not supported";
    case SZ_ERROR_CRC:
      return "7z header CRC-32 mismatch";
    case SZ_ERROR_INPUT_EOF:
      return "7z header lies outside the archive (truncated)";
    case SZ_ERROR_MEM:
      return "7z header too large for memory";
    default:
      return "7z header is corrupt";
  }
}

// The folder's coders, as the header lists them, name AES.
bool IsEncrypted(const CSzAr& ar, UInt32 folder) {
  CSzData coders = {ar.CodersData + ar.FoCodersOffsets[folder],
                    ar.FoCodersOffsets[folder + 1] - ar.FoCodersOffsets[folder]};
  CSzFolder parsed;
  if (SzGetNextFolderItem(&parsed, &coders) != SZ_OK) return false;
  for (UInt32 i = 0; i < parsed.NumCoders; ++i) {
    if (parsed.Coders[i].MethodID == kAesMethod) return true;
  }
  return false;
}

Problem DecodeProblem(const CSzAr& ar, UInt32 folder, SRes result) {
  switch (result) {
    case SZ_ERROR_CRC:
      return "CRC-32 mismatch";
    case SZ_ERROR_UNSUPPORTED:
      return IsEncrypted(ar, folder) ? "encrypted 7z archives are not supported"
                                     : "7z compression method not supported";
    case SZ_ERROR_MEM:
      return "7z folder too large for memory";
    case SZ_ERROR_INPUT_EOF:
      return "7z packed data lies outside the archive (truncated)";
    default:
      return "7z packed data is corrupt";
  }
}

void ListEntries(const CSzArEx& db, ArchiveListing* listing) {
  std::vector<UInt16> units;
  for (UInt32 i = 0; i < db.NumFiles; ++i) {
    ArchiveEntry entry;
    // The count includes the terminating zero; a nameless entry stays unusable.
    size_t length = db.FileNameOffsets != nullptr ? SzArEx_GetFileNameUtf16(&db, i, nullptr) : 0;
    if (length > 1) {
      units.resize(length);
      SzArEx_GetFileNameUtf16(&db, i, units.data());
      std::wstring name(units.begin(), units.end() - 1);
      SetNameFromUtf16(&entry, name.data(), name.size());
    }
    entry.size = SzArEx_GetFileSize(&db, i);
    if (db.FileToFolder[i] != kNoFolder) {
      entry.isDirectory = false;  // it has bytes, so it is a file whatever its name says
    } else {
      bool directoryBit = SzBitWithVals_Check(&db.Attribs, i) && (db.Attribs.Vals[i] & FILE_ATTRIBUTE_DIRECTORY);
      entry.isDirectory = entry.isDirectory || SzArEx_IsDir(&db, i) || directoryBit;
    }
    listing->entries.push_back(entry);
  }
}

}  // namespace

struct SevenZipArchive {
  MappedStream stream;
  CSzArEx db;
  // The SDK's cache: the folder decoded last and its bytes.
  UInt32 block;
  Byte* blockBytes;
  size_t blockSize;
  // A folder that failed to decode: its later files fail alike without
  // decoding it again.
  UInt32 failedFolder;
  Problem failedWhy;
};

bool LooksLikeSevenZip(const uint8_t* data, uint64_t size) {
  return size >= sizeof kSignature && memcmp(data, kSignature, sizeof kSignature) == 0;
}

SevenZipArchive* OpenSevenZip(const uint8_t* data, uint64_t size, ArchiveListing* listing, Problem* problem) {
  listing->format = kFormatSevenZip;
  listing->entries.clear();
  InitOnceExecuteOnce(&gCrcTableOnce, MakeCrcTable, nullptr, nullptr);
  SevenZipArchive* archive = new (std::nothrow) SevenZipArchive;
  if (archive == nullptr) {
    *problem = "out of memory";
    return nullptr;
  }
  archive->stream.vt = {Look, Skip, Read, Seek};
  archive->stream.data = data;
  archive->stream.size = size;
  archive->stream.pos = 0;
  archive->block = kNoFolder;
  archive->blockBytes = nullptr;
  archive->blockSize = 0;
  archive->failedFolder = kNoFolder;
  archive->failedWhy = nullptr;
  SzArEx_Init(&archive->db);
  SRes result = SzArEx_Open(&archive->db, &archive->stream.vt, &kHeap, &kHeaderHeap);
  if (result != SZ_OK) {
    *problem = OpenProblem(result);
    CloseSevenZip(archive);
    return nullptr;
  }
  try {
    ListEntries(archive->db, listing);
  } catch (...) {
    *problem = "out of memory";
    CloseSevenZip(archive);
    return nullptr;
  }
  return archive;
}

void CloseSevenZip(SevenZipArchive* archive) {
  if (archive == nullptr) return;
  ISzAlloc_Free(&kHeap, archive->blockBytes);
  SzArEx_Free(&archive->db, &kHeap);
  delete archive;
}

bool ReadSevenZipListing(const uint8_t* data, uint64_t size, ArchiveListing* listing, Problem* problem) {
  SevenZipArchive* archive = OpenSevenZip(data, size, listing, problem);
  CloseSevenZip(archive);
  return archive != nullptr;
}

bool DecodeSevenZipFile(SevenZipArchive* archive, size_t index, const uint8_t** bytes, size_t* size, Problem* problem) {
  *bytes = nullptr;
  *size = 0;
  if (index >= archive->db.NumFiles) {
    *problem = "no such entry";
    return false;
  }
  UInt32 file = static_cast<UInt32>(index);
  UInt32 folder = archive->db.FileToFolder[file];
  // An empty file has no folder; the SDK would drop its cached folder for it,
  // which costs a solid archive a second decoding of the files after it.
  if (folder == kNoFolder) return true;
  if (folder == archive->failedFolder) {
    *problem = archive->failedWhy;
    return false;
  }
  size_t offset = 0;
  size_t length = 0;
  SRes result = SzArEx_Extract(&archive->db, &archive->stream.vt, file, &archive->block, &archive->blockBytes,
                               &archive->blockSize, &offset, &length, &kHeap, &kHeap);
  if (result != SZ_OK) {
    *problem = DecodeProblem(archive->db.db, folder, result);
    // After a failure the cache may hold a half-decoded folder, which the SDK
    // would serve to the next file of the same folder; it is dropped. A CRC
    // mismatch may be this file's alone, so only other faults condemn the
    // whole folder.
    ISzAlloc_Free(&kHeap, archive->blockBytes);
    archive->blockBytes = nullptr;
    archive->blockSize = 0;
    archive->block = kNoFolder;
    if (result != SZ_ERROR_CRC) {
      archive->failedFolder = folder;
      archive->failedWhy = *problem;
    }
    return false;
  }
  *bytes = archive->blockBytes != nullptr ? archive->blockBytes + offset : nullptr;
  *size = length;
  return true;
}
