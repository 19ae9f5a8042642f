// 7z archives: signature header, next header (plain or packed as the writing
// tool usually leaves it) and file records, read into an ArchiveListing.
#include <zlib.h>

#include <cstring>
#include <vector>

#include "archiver/sevenzip_records.h"

namespace {

constexpr uint8_t kSignature[6] = {'7', 'z', 0xBC, 0xAF, 0x27, 0x1C};
constexpr uint64_t kSignatureHeaderSize = kSevenZipSignatureHeaderSize;
// A packed header may nest once or twice in practice; more is refused.
constexpr int kMaxHeaderLevels = 4;
// ROM archives have small headers; this keeps a lying size from exhausting memory.
constexpr uint64_t kMaxHeaderSize = 64 * 1024 * 1024;
const char* const kCorrupt = kSevenZipCorrupt;

bool AppendToVector(void* context, const uint8_t* data, size_t size) {
  auto* out = static_cast<std::vector<uint8_t>*>(context);
  if (size > kMaxHeaderSize - out->size()) return false;
  out->insert(out->end(), data, data + size);
  return true;
}

// Unpacks a packed header: its streams record names folders whose output,
// concatenated, is the next header.
bool DecodeHeader(Reader* r, const uint8_t* data, uint64_t size, std::vector<uint8_t>* header, Problem* problem) {
  StreamsRecord streams;
  std::vector<SevenZipFolder> folders;
  if (!ReadStreamsInfo(r, &streams, problem) || !BuildFolders(streams, size, &folders, problem)) return false;
  uint64_t total = 0;
  for (const SevenZipFolder& folder : folders) total += folder.unpackSize;
  if (folders.empty() || total > kMaxHeaderSize) {
    *problem = kCorrupt;
    return false;
  }
  header->clear();
  header->reserve(static_cast<size_t>(total));
  ByteSink sink = {AppendToVector, header};
  for (const SevenZipFolder& folder : folders) {
    if (!DecodeSevenZipFolder(data, size, folder, &sink, problem)) return false;
  }
  return true;
}

struct FilesRecord {
  uint64_t count = 0;
  std::vector<bool> emptyStream;
  std::vector<bool> emptyFile;
  std::vector<std::wstring> names;
  std::vector<bool> hasAttributes;
  std::vector<uint32_t> attributes;
};

bool ReadNames(Reader* r, FilesRecord* files) {
  if (ReadByte(r) != 0) return false;  // names kept in another stream: not supported
  if (Remaining(r) % 2 != 0) return false;
  std::wstring name;
  while (Remaining(r) > 0) {
    uint8_t low = ReadByte(r);
    uint8_t high = ReadByte(r);
    wchar_t c = static_cast<wchar_t>(low | (high << 8));
    if (c != 0) {
      name.push_back(c);
      continue;
    }
    if (files->names.size() >= files->count) return false;
    files->names.push_back(name);
    name.clear();
  }
  return name.empty() && files->names.size() == files->count;
}

bool ReadAttributes(Reader* r, FilesRecord* files) {
  uint8_t allDefined = ReadByte(r);
  if (allDefined != 0) {
    files->hasAttributes.assign(static_cast<size_t>(files->count), true);
  } else if (!ReadBits(r, files->count, &files->hasAttributes)) {
    return false;
  }
  if (ReadByte(r) != 0) return false;  // kept in another stream: not supported
  files->attributes.assign(files->hasAttributes.size(), 0);
  for (size_t i = 0; i < files->hasAttributes.size(); ++i) {
    if (files->hasAttributes[i]) files->attributes[i] = ReadUInt32(r);
  }
  return !r->failed;
}

bool ReadFilesInfo(Reader* r, uint64_t streamCount, FilesRecord* files, Problem* problem) {
  files->count = ReadNumber(r);
  // A file either owns a stream or is flagged in the empty-stream bit vector.
  if (r->failed || files->count > streamCount + Remaining(r) * 8) {
    *problem = kCorrupt;
    return false;
  }
  files->emptyStream.assign(static_cast<size_t>(files->count), false);
  uint64_t emptyCount = 0;
  for (;;) {
    uint64_t type = ReadNumber(r);
    if (r->failed || type == kEnd) break;
    uint64_t size = ReadNumber(r);
    if (size > Remaining(r)) {
      r->failed = true;
      break;
    }
    Reader property = MakeReader(r->data + r->pos, static_cast<size_t>(size));
    r->pos += static_cast<size_t>(size);
    bool ok = true;
    if (type == kEmptyStream) {
      ok = ReadBits(&property, files->count, &files->emptyStream);
      emptyCount = 0;
      for (bool empty : files->emptyStream) emptyCount += empty ? 1 : 0;
      files->emptyFile.assign(static_cast<size_t>(emptyCount), false);
    } else if (type == kEmptyFile) {
      ok = ReadBits(&property, emptyCount, &files->emptyFile);
    } else if (type == kName) {
      ok = ReadNames(&property, files);
    } else if (type == kWinAttributes) {
      ok = ReadAttributes(&property, files);
    }
    if (!ok || property.failed) {
      r->failed = true;
      break;
    }
  }
  if (r->failed) {
    *problem = kCorrupt;
    return false;
  }
  return true;
}

// Pairs the file records with the folders' streams, in stored order.
bool BuildEntries(const StreamsRecord& streams, const FilesRecord& files, ArchiveListing* listing,
                  Problem* problem) {
  size_t folder = 0;
  uint64_t usedInFolder = 0;
  size_t stream = 0;
  size_t empty = 0;
  for (size_t i = 0; i < files.count; ++i) {
    ArchiveEntry entry;
    if (i < files.names.size()) {
      SetNameFromUtf16(&entry, files.names[i].data(), files.names[i].size());
    }
    bool hasDirectoryBit = i < files.hasAttributes.size() && files.hasAttributes[i] &&
                           (files.attributes[i] & FILE_ATTRIBUTE_DIRECTORY) != 0;
    if (!files.emptyStream[i]) {
      while (folder < streams.folders.size() && usedInFolder == streams.folders[folder].substreams) {
        ++folder;
        usedInFolder = 0;
      }
      if (folder >= streams.folders.size() || stream >= streams.substreamSizes.size()) {
        *problem = kCorrupt;
        return false;
      }
      entry.folder = static_cast<int>(folder);
      entry.size = streams.substreamSizes[stream];
      entry.hasCrc = streams.substreamHasCrc[stream];
      entry.crc = streams.substreamCrcs[stream];
      entry.isDirectory = false;  // it has bytes, so it is a file whatever its name says
      ++usedInFolder;
      ++stream;
    } else {
      bool isFile = empty < files.emptyFile.size() && files.emptyFile[empty];
      entry.isDirectory = entry.isDirectory || !isFile || hasDirectoryBit;
      ++empty;
    }
    listing->entries.push_back(entry);
  }
  if (stream != streams.substreamSizes.size()) {
    *problem = kCorrupt;
    return false;
  }
  return true;
}

bool ReadHeader(Reader* r, uint64_t size, ArchiveListing* listing, Problem* problem) {
  uint64_t id = ReadNumber(r);
  if (id == kArchiveProperties) {
    while (!r->failed && ReadNumber(r) != kEnd) SkipData(r);
    id = ReadNumber(r);
  }
  if (id == kAdditionalStreamsInfo) {
    StreamsRecord additional;
    if (!ReadStreamsInfo(r, &additional, problem)) return false;
    id = ReadNumber(r);
  }
  StreamsRecord streams;
  if (id == kMainStreamsInfo) {
    if (!ReadStreamsInfo(r, &streams, problem)) return false;
    id = ReadNumber(r);
  }
  FilesRecord files;
  if (id == kFilesInfo) {
    if (!ReadFilesInfo(r, streams.substreamSizes.size(), &files, problem)) return false;
    id = ReadNumber(r);
  }
  if (r->failed || id != kEnd) {
    *problem = kCorrupt;
    return false;
  }
  return BuildFolders(streams, size, &listing->folders, problem) && BuildEntries(streams, files, listing, problem);
}

uint64_t Get64(const uint8_t* p) {
  uint64_t value = 0;
  for (int i = 0; i < 8; ++i) value |= static_cast<uint64_t>(p[i]) << (8 * i);
  return value;
}

uint32_t Get32(const uint8_t* p) {
  return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) | (static_cast<uint32_t>(p[2]) << 16) |
         (static_cast<uint32_t>(p[3]) << 24);
}

}  // namespace

bool LooksLikeSevenZip(const uint8_t* data, uint64_t size) {
  return size >= sizeof kSignature && memcmp(data, kSignature, sizeof kSignature) == 0;
}

bool ReadSevenZipListing(const uint8_t* data, uint64_t size, ArchiveListing* listing, Problem* problem) {
  listing->format = kFormatSevenZip;
  listing->entries.clear();
  listing->folders.clear();
  if (size < kSignatureHeaderSize || !LooksLikeSevenZip(data, size)) {
    *problem = "not a 7z archive";
    return false;
  }
  if (data[6] != 0) {
    *problem = "7z format version not supported";
    return false;
  }
  if (crc32(0, data + 12, 20) != Get32(data + 8)) {
    *problem = "7z signature header is corrupt";
    return false;
  }
  uint64_t nextOffset = Get64(data + 12);
  uint64_t nextSize = Get64(data + 20);
  uint32_t nextCrc = Get32(data + 28);
  if (nextSize == 0) return true;  // an archive without entries
  uint64_t room = size - kSignatureHeaderSize;
  if (nextOffset > room || nextSize > room - nextOffset) {
    *problem = "7z header lies outside the archive (truncated)";
    return false;
  }
  const uint8_t* header = data + kSignatureHeaderSize + nextOffset;
  if (crc32(0, header, static_cast<uInt>(nextSize)) != nextCrc) {
    *problem = "7z header CRC-32 mismatch";
    return false;
  }
  std::vector<uint8_t> unpacked;
  Reader r = MakeReader(header, static_cast<size_t>(nextSize));
  for (int level = 0; level < kMaxHeaderLevels; ++level) {
    uint64_t id = ReadNumber(&r);
    if (id == kHeader) return ReadHeader(&r, size, listing, problem);
    if (r.failed || id != kEncodedHeader) break;
    std::vector<uint8_t> next;
    if (!DecodeHeader(&r, data, size, &next, problem)) return false;
    unpacked.swap(next);
    r = MakeReader(unpacked.data(), unpacked.size());
  }
  *problem = kCorrupt;
  return false;
}

