// 7z streams records: packed streams, folders with their coders and bind
// pairs, and the substreams that split a folder's output into files. Every
// count is weighed against the bytes left before it sizes anything, and every
// packed stream against the file.
#include "archiver/sevenzip_records.h"

const char kSevenZipCorrupt[] = "7z header is corrupt";

namespace {

constexpr uint64_t kMaxCoders = 64;
constexpr uint64_t kMaxCoderStreams = 64;
const char* const kCorrupt = kSevenZipCorrupt;

}  // namespace

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

static void SkipBytes(Reader* r, uint64_t count) {
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
static bool ReadDigests(Reader* r, uint64_t count, std::vector<bool>* defined, std::vector<uint32_t>* crcs) {
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

// The folder's result is the one out stream no bind pair feeds onwards.
static uint64_t FolderUnpackSize(const FolderRecord& folder) {
  for (uint64_t out = 0; out < folder.totalOut; ++out) {
    bool bound = false;
    for (const auto& pair : folder.bindPairs) bound = bound || pair.second == out;
    if (!bound && out < folder.unpackSizes.size()) return folder.unpackSizes[static_cast<size_t>(out)];
  }
  return 0;
}

static bool ReadPackInfo(Reader* r, StreamsRecord* streams, Problem* problem) {
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

static bool ReadFolder(Reader* r, FolderRecord* folder, Problem* problem) {
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

static bool ReadUnpackInfo(Reader* r, StreamsRecord* streams, Problem* problem) {
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
static bool ReadSubStreamsInfo(Reader* r, StreamsRecord* streams, Problem* problem) {
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

static void ClassifyFolder(const FolderRecord& record, SevenZipFolder* folder) {
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

bool BuildFolders(const StreamsRecord& streams, uint64_t fileSize, std::vector<SevenZipFolder>* folders,
                  Problem* problem) {
  folders->clear();
  if (streams.packPos > fileSize - kSevenZipSignatureHeaderSize) {
    *problem = "7z packed data lies outside the archive";
    return false;
  }
  std::vector<uint64_t> packStarts;
  uint64_t offset = kSevenZipSignatureHeaderSize + streams.packPos;
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
