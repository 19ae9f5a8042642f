// 7z archives: signature header, next header (plain or packed as the writing
// tool usually leaves it), streams, folders and file records, read into an
// ArchiveListing. Every count is weighed against the bytes left before it sizes
// anything, and every offset against the file.
#include <zlib.h>

#include <cstring>
#include <utility>
#include <vector>

#include "archiver/archiver.h"

namespace {

constexpr uint8_t kSignature[6] = {'7', 'z', 0xBC, 0xAF, 0x27, 0x1C};
constexpr uint64_t kSignatureHeaderSize = 32;

// Property ids of the header records.
enum : uint64_t {
  kEnd = 0x00,
  kHeader = 0x01,
  kArchiveProperties = 0x02,
  kAdditionalStreamsInfo = 0x03,
  kMainStreamsInfo = 0x04,
  kFilesInfo = 0x05,
  kPackInfo = 0x06,
  kUnpackInfo = 0x07,
  kSubStreamsInfo = 0x08,
  kSize = 0x09,
  kCrc = 0x0A,
  kFolder = 0x0B,
  kCodersUnpackSize = 0x0C,
  kNumUnpackStream = 0x0D,
  kEmptyStream = 0x0E,
  kEmptyFile = 0x0F,
  kName = 0x11,
  kWinAttributes = 0x15,
  kEncodedHeader = 0x17,
};

constexpr uint64_t kMaxCoders = 64;
constexpr uint64_t kMaxCoderStreams = 64;
// A packed header may nest once or twice in practice; more is refused.
constexpr int kMaxHeaderLevels = 4;
// ROM archives have small headers; this keeps a lying size from exhausting memory.
constexpr uint64_t kMaxHeaderSize = 64 * 1024 * 1024;

const char kCorrupt[] = "7z header is corrupt";

// A bounds-checked cursor. A read past the end yields zeros and sets failed,
// which the callers test before a value sizes or indexes anything.
struct Reader {
  const uint8_t* data;
  size_t size;
  size_t pos;
  bool failed;
};

Reader MakeReader(const uint8_t* data, size_t size) { return Reader{data, size, 0, false}; }

uint64_t Remaining(const Reader* r) { return r->failed ? 0 : r->size - r->pos; }

uint8_t ReadByte(Reader* r) {
  if (r->failed || r->pos >= r->size) {
    r->failed = true;
    return 0;
  }
  return r->data[r->pos++];
}

uint32_t ReadUInt32(Reader* r) {
  uint32_t value = 0;
  for (int i = 0; i < 4; ++i) value |= static_cast<uint32_t>(ReadByte(r)) << (8 * i);
  return value;
}

// The variable-length number: the count of leading one bits of the first byte
// says how many little-endian bytes follow; the first byte's remaining bits are
// the highest part.
uint64_t ReadNumber(Reader* r) {
  uint8_t first = ReadByte(r);
  uint8_t mask = 0x80;
  uint64_t value = 0;
  for (int i = 0; i < 8; ++i) {
    if ((first & mask) == 0) {
      uint64_t high = first & (mask - 1);
      return value | (high << (8 * i));
    }
    value |= static_cast<uint64_t>(ReadByte(r)) << (8 * i);
    mask >>= 1;
  }
  return value;
}

void SkipBytes(Reader* r, uint64_t count) {
  if (count > Remaining(r)) {
    r->failed = true;
    return;
  }
  r->pos += static_cast<size_t>(count);
}

void SkipData(Reader* r) { SkipBytes(r, ReadNumber(r)); }

// count bits, highest bit of each byte first.
bool ReadBits(Reader* r, uint64_t count, std::vector<bool>* bits) {
  if (count / 8 + (count % 8 != 0 ? 1 : 0) > Remaining(r)) {
    r->failed = true;
    return false;
  }
  bits->assign(static_cast<size_t>(count), false);
  uint8_t byte = 0;
  for (size_t i = 0; i < bits->size(); ++i) {
    if (i % 8 == 0) byte = ReadByte(r);
    (*bits)[i] = (byte & (0x80 >> (i % 8))) != 0;
  }
  return !r->failed;
}

// A defined-flag for each of count items (all, or a bit vector), then a CRC-32
// for every defined one.
bool ReadDigests(Reader* r, uint64_t count, std::vector<bool>* defined, std::vector<uint32_t>* crcs) {
  uint8_t allDefined = ReadByte(r);
  if (allDefined != 0) {
    if (count > Remaining(r)) {
      r->failed = true;
      return false;
    }
    defined->assign(static_cast<size_t>(count), true);
  } else if (!ReadBits(r, count, defined)) {
    return false;
  }
  crcs->assign(defined->size(), 0);
  for (size_t i = 0; i < defined->size(); ++i) {
    if ((*defined)[i]) (*crcs)[i] = ReadUInt32(r);
  }
  return !r->failed;
}

struct CoderRecord {
  std::vector<uint8_t> id;
  uint64_t inStreams = 1;
  uint64_t outStreams = 1;
  std::vector<uint8_t> props;
};

struct FolderRecord {
  std::vector<CoderRecord> coders;
  uint64_t totalIn = 0;
  uint64_t totalOut = 0;
  std::vector<std::pair<uint64_t, uint64_t>> bindPairs;  // in index, out index
  std::vector<uint64_t> packedStreams;
  std::vector<uint64_t> unpackSizes;  // one per out stream
  bool hasCrc = false;
  uint32_t crc = 0;
  uint64_t substreams = 1;
};

struct StreamsRecord {
  uint64_t packPos = 0;
  std::vector<uint64_t> packSizes;
  std::vector<FolderRecord> folders;
  std::vector<uint64_t> substreamSizes;
  std::vector<bool> substreamHasCrc;
  std::vector<uint32_t> substreamCrcs;
};

// The folder's result is the one out stream no bind pair feeds onwards.
uint64_t FolderUnpackSize(const FolderRecord& folder) {
  for (uint64_t out = 0; out < folder.totalOut; ++out) {
    bool bound = false;
    for (const auto& pair : folder.bindPairs) bound = bound || pair.second == out;
    if (!bound && out < folder.unpackSizes.size()) return folder.unpackSizes[static_cast<size_t>(out)];
  }
  return 0;
}

bool ReadPackInfo(Reader* r, StreamsRecord* streams, Problem* problem) {
  streams->packPos = ReadNumber(r);
  uint64_t count = ReadNumber(r);
  if (r->failed || count > Remaining(r)) {
    *problem = kCorrupt;
    return false;
  }
  for (;;) {
    uint64_t id = ReadNumber(r);
    if (r->failed) break;
    if (id == kEnd) break;
    if (id == kSize) {
      streams->packSizes.clear();
      for (uint64_t i = 0; i < count && !r->failed; ++i) streams->packSizes.push_back(ReadNumber(r));
    } else if (id == kCrc) {
      std::vector<bool> defined;
      std::vector<uint32_t> crcs;
      ReadDigests(r, count, &defined, &crcs);
    } else {
      r->failed = true;
    }
  }
  if (r->failed || streams->packSizes.size() != count) {
    *problem = kCorrupt;
    return false;
  }
  return true;
}

bool ReadFolder(Reader* r, FolderRecord* folder, Problem* problem) {
  uint64_t coderCount = ReadNumber(r);
  if (r->failed || coderCount == 0 || coderCount > kMaxCoders) {
    *problem = kCorrupt;
    return false;
  }
  for (uint64_t i = 0; i < coderCount; ++i) {
    CoderRecord coder;
    uint8_t flags = ReadByte(r);
    if (flags & 0x80) {
      *problem = "7z alternative coder methods are not supported";
      return false;
    }
    uint64_t idSize = flags & 0x0F;
    if (idSize > Remaining(r)) r->failed = true;
    for (uint64_t b = 0; b < idSize && !r->failed; ++b) coder.id.push_back(ReadByte(r));
    if (flags & 0x10) {
      coder.inStreams = ReadNumber(r);
      coder.outStreams = ReadNumber(r);
      if (coder.inStreams == 0 || coder.inStreams > kMaxCoderStreams || coder.outStreams == 0 ||
          coder.outStreams > kMaxCoderStreams) {
        r->failed = true;
      }
    }
    if (flags & 0x20) {
      uint64_t propsSize = ReadNumber(r);
      if (propsSize > Remaining(r)) r->failed = true;
      for (uint64_t b = 0; b < propsSize && !r->failed; ++b) coder.props.push_back(ReadByte(r));
    }
    if (r->failed) break;
    folder->totalIn += coder.inStreams;
    folder->totalOut += coder.outStreams;
    folder->coders.push_back(coder);
  }
  if (r->failed) {
    *problem = kCorrupt;
    return false;
  }
  uint64_t bindPairCount = folder->totalOut - 1;
  for (uint64_t i = 0; i < bindPairCount; ++i) {
    uint64_t in = ReadNumber(r);
    uint64_t out = ReadNumber(r);
    if (in >= folder->totalIn || out >= folder->totalOut) r->failed = true;
    if (r->failed) break;
    folder->bindPairs.emplace_back(in, out);
  }
  if (r->failed || folder->totalIn < bindPairCount + 1) {
    *problem = kCorrupt;
    return false;
  }
  uint64_t packedCount = folder->totalIn - bindPairCount;
  if (packedCount == 1) {
    for (uint64_t in = 0; in < folder->totalIn && folder->packedStreams.empty(); ++in) {
      bool bound = false;
      for (const auto& pair : folder->bindPairs) bound = bound || pair.first == in;
      if (!bound) folder->packedStreams.push_back(in);
    }
  } else {
    for (uint64_t i = 0; i < packedCount && !r->failed; ++i) {
      uint64_t in = ReadNumber(r);
      if (in >= folder->totalIn) r->failed = true;
      folder->packedStreams.push_back(in);
    }
  }
  if (r->failed || folder->packedStreams.size() != packedCount) {
    *problem = kCorrupt;
    return false;
  }
  return true;
}

bool ReadUnpackInfo(Reader* r, StreamsRecord* streams, Problem* problem) {
  if (ReadNumber(r) != kFolder) {
    *problem = kCorrupt;
    return false;
  }
  uint64_t count = ReadNumber(r);
  if (r->failed || count > Remaining(r)) {
    *problem = kCorrupt;
    return false;
  }
  if (ReadByte(r) != 0) {
    *problem = "7z external folder records are not supported";
    return false;
  }
  // Grown record by record, so memory follows the bytes actually read.
  streams->folders.clear();
  for (uint64_t i = 0; i < count; ++i) {
    FolderRecord folder;
    if (!ReadFolder(r, &folder, problem)) return false;
    streams->folders.push_back(folder);
  }
  if (ReadNumber(r) != kCodersUnpackSize) {
    *problem = kCorrupt;
    return false;
  }
  for (FolderRecord& folder : streams->folders) {
    for (uint64_t i = 0; i < folder.totalOut && !r->failed; ++i) folder.unpackSizes.push_back(ReadNumber(r));
  }
  for (;;) {
    uint64_t id = ReadNumber(r);
    if (r->failed || id == kEnd) break;
    if (id != kCrc) {
      r->failed = true;
      break;
    }
    std::vector<bool> defined;
    std::vector<uint32_t> crcs;
    if (!ReadDigests(r, count, &defined, &crcs)) break;
    for (size_t i = 0; i < streams->folders.size(); ++i) {
      streams->folders[i].hasCrc = defined[i];
      streams->folders[i].crc = crcs[i];
    }
  }
  if (r->failed) {
    *problem = kCorrupt;
    return false;
  }
  return true;
}

// Splits each folder's output into the files it holds (solid archives).
bool ReadSubStreamsInfo(Reader* r, StreamsRecord* streams, Problem* problem) {
  uint64_t id = ReadNumber(r);
  if (id == kNumUnpackStream) {
    // Each stream after a folder's first needs a size byte, so the bytes left
    // bound the total.
    uint64_t limit = Remaining(r) + streams->folders.size();
    uint64_t total = 0;
    for (FolderRecord& folder : streams->folders) {
      folder.substreams = ReadNumber(r);
      total += folder.substreams;
      if (folder.substreams > limit || total > limit) r->failed = true;
      if (r->failed) break;
    }
    id = ReadNumber(r);
  }
  if (r->failed) {
    *problem = kCorrupt;
    return false;
  }
  streams->substreamSizes.clear();
  bool haveSizes = id == kSize;
  for (const FolderRecord& folder : streams->folders) {
    if (folder.substreams == 0) continue;
    uint64_t folderSize = FolderUnpackSize(folder);
    if (!haveSizes && folder.substreams > 1) r->failed = true;  // sizes would be unknown
    uint64_t sum = 0;
    for (uint64_t i = 1; i < folder.substreams && !r->failed; ++i) {
      uint64_t size = ReadNumber(r);
      if (size > folderSize - sum) r->failed = true;
      sum += size;
      streams->substreamSizes.push_back(size);
    }
    if (r->failed) break;
    streams->substreamSizes.push_back(folderSize - sum);
  }
  if (haveSizes) id = ReadNumber(r);
  // Folders with one stream and a folder CRC already know their stream's CRC.
  uint64_t unknown = 0;
  for (const FolderRecord& folder : streams->folders) {
    if (!(folder.substreams == 1 && folder.hasCrc)) unknown += folder.substreams;
  }
  std::vector<bool> defined(static_cast<size_t>(unknown), false);
  std::vector<uint32_t> crcs(static_cast<size_t>(unknown), 0);
  while (!r->failed && id != kEnd) {
    if (id != kCrc || !ReadDigests(r, unknown, &defined, &crcs)) {
      r->failed = true;
      break;
    }
    id = ReadNumber(r);
  }
  if (r->failed) {
    *problem = kCorrupt;
    return false;
  }
  streams->substreamHasCrc.clear();
  streams->substreamCrcs.clear();
  size_t next = 0;
  for (const FolderRecord& folder : streams->folders) {
    if (folder.substreams == 1 && folder.hasCrc) {
      streams->substreamHasCrc.push_back(true);
      streams->substreamCrcs.push_back(folder.crc);
      continue;
    }
    for (uint64_t i = 0; i < folder.substreams; ++i, ++next) {
      streams->substreamHasCrc.push_back(defined[next]);
      streams->substreamCrcs.push_back(crcs[next]);
    }
  }
  return true;
}

bool ReadStreamsInfo(Reader* r, StreamsRecord* streams, Problem* problem) {
  bool haveSubStreams = false;
  for (;;) {
    uint64_t id = ReadNumber(r);
    if (r->failed) break;
    if (id == kEnd) break;
    bool ok = false;
    if (id == kPackInfo) {
      ok = ReadPackInfo(r, streams, problem);
    } else if (id == kUnpackInfo) {
      ok = ReadUnpackInfo(r, streams, problem);
    } else if (id == kSubStreamsInfo) {
      ok = ReadSubStreamsInfo(r, streams, problem);
      haveSubStreams = true;
    } else {
      *problem = kCorrupt;
    }
    if (!ok) return false;
  }
  if (r->failed) {
    *problem = kCorrupt;
    return false;
  }
  if (!haveSubStreams) {
    // Without the record every folder is one stream.
    for (const FolderRecord& folder : streams->folders) {
      streams->substreamSizes.push_back(FolderUnpackSize(folder));
      streams->substreamHasCrc.push_back(folder.hasCrc);
      streams->substreamCrcs.push_back(folder.crc);
    }
  }
  return true;
}

void ClassifyFolder(const FolderRecord& record, SevenZipFolder* folder) {
  folder->method = kMethodUnsupported;
  for (const CoderRecord& coder : record.coders) {
    if (coder.id == std::vector<uint8_t>{0x06, 0xF1, 0x07, 0x01}) {
      folder->unsupportedWhy = "encrypted 7z archives are not supported";
      return;
    }
  }
  if (record.coders.size() != 1 || record.totalIn != 1 || record.totalOut != 1) {
    folder->unsupportedWhy = "7z filters (several coders in one folder) are not supported";
    return;
  }
  const std::vector<uint8_t>& id = record.coders[0].id;
  if (id == std::vector<uint8_t>{0x00}) {
    folder->method = kMethodCopy;
  } else if (id == std::vector<uint8_t>{0x03, 0x01, 0x01}) {
    folder->method = kMethodLzma;
  } else if (id == std::vector<uint8_t>{0x21}) {
    folder->method = kMethodLzma2;
  } else {
    folder->unsupportedWhy = "7z compression method not supported";
  }
  folder->props = record.coders[0].props;
}

// Places every folder's packed stream in the file; all of them must lie inside.
bool BuildFolders(const StreamsRecord& streams, uint64_t fileSize, std::vector<SevenZipFolder>* folders,
                  Problem* problem) {
  folders->clear();
  if (streams.packPos > fileSize - kSignatureHeaderSize) {
    *problem = "7z packed data lies outside the archive";
    return false;
  }
  std::vector<uint64_t> packStarts;
  uint64_t offset = kSignatureHeaderSize + streams.packPos;
  for (uint64_t size : streams.packSizes) {
    if (size > fileSize - offset) {
      *problem = "7z packed data lies outside the archive";
      return false;
    }
    packStarts.push_back(offset);
    offset += size;
  }
  size_t packIndex = 0;
  for (const FolderRecord& record : streams.folders) {
    SevenZipFolder folder;
    ClassifyFolder(record, &folder);
    folder.unpackSize = FolderUnpackSize(record);
    folder.hasCrc = record.hasCrc;
    folder.crc = record.crc;
    if (record.packedStreams.size() > streams.packSizes.size() - packIndex) {
      *problem = kCorrupt;
      return false;
    }
    folder.packOffset = packStarts[packIndex];
    folder.packSize = streams.packSizes[packIndex];
    packIndex += record.packedStreams.size();
    folders->push_back(folder);
  }
  return true;
}

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
