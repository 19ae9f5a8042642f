// Zip archives: the listing comes from the central directory (the local
// headers' sizes may be deferred to data descriptors); entries are stored or
// deflated. Multi-volume, zip64 and encrypted entries are refused clearly.
#include <zlib.h>

#include <vector>

#include "archiver/archiver.h"

constexpr uint32_t kLocalHeaderSignature = 0x04034b50;
constexpr uint32_t kCentralHeaderSignature = 0x02014b50;
constexpr uint32_t kEndRecordSignature = 0x06054b50;
constexpr uint64_t kLocalHeaderSize = 30;
constexpr uint64_t kCentralHeaderSize = 46;
constexpr uint64_t kEndRecordSize = 22;
constexpr uint64_t kMaxCommentSize = 0xFFFF;
constexpr uint16_t kFlagEncrypted = 0x0001;
constexpr uint16_t kFlagUtf8Name = 0x0800;
constexpr uint16_t kMethodStored = 0;
constexpr uint16_t kMethodDeflated = 8;
constexpr size_t kOutputBlock = 64 * 1024;

static uint16_t Get16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | (p[1] << 8)); }
static uint32_t Get32(const uint8_t* p) {
  return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) | (static_cast<uint32_t>(p[2]) << 16) |
         (static_cast<uint32_t>(p[3]) << 24);
}

bool LooksLikeZip(const uint8_t* data, uint64_t size) {
  if (size < 4) return false;
  uint32_t signature = Get32(data);
  // An archive without entries is only its end record.
  return signature == kLocalHeaderSignature || signature == kEndRecordSignature;
}

// The end record sits in the last 22 bytes plus at most a 64 KiB comment; the
// search is bounded by that and takes the last record whose comment fits.
static bool FindEndRecord(const uint8_t* data, uint64_t size, uint64_t* at) {
  if (size < kEndRecordSize) return false;
  uint64_t last = size - kEndRecordSize;
  uint64_t first = last > kMaxCommentSize ? last - kMaxCommentSize : 0;
  for (uint64_t pos = last + 1; pos-- > first;) {
    if (Get32(data + pos) != kEndRecordSignature) continue;
    if (pos + kEndRecordSize + Get16(data + pos + 20) <= size) {
      *at = pos;
      return true;
    }
  }
  return false;
}

// Hosts whose external attributes carry the MS-DOS directory bit.
static bool HasDosAttributes(uint8_t host) { return host == 0 || host == 11 || host == 14; }

bool ReadZipListing(const uint8_t* data, uint64_t size, ArchiveListing* listing, Problem* problem) {
  listing->format = kFormatZip;
  listing->entries.clear();
  uint64_t end = 0;
  if (!FindEndRecord(data, size, &end)) {
    *problem = "zip end record not found (truncated or not a zip archive)";
    return false;
  }
  const uint8_t* record = data + end;
  uint16_t disk = Get16(record + 4);
  uint16_t directoryDisk = Get16(record + 6);
  uint16_t entriesHere = Get16(record + 8);
  uint16_t entryCount = Get16(record + 10);
  uint32_t directorySize = Get32(record + 12);
  uint32_t directoryOffset = Get32(record + 16);
  if (entryCount == 0xFFFF || directorySize == 0xFFFFFFFF || directoryOffset == 0xFFFFFFFF) {
    *problem = "zip64 archives are not supported";
    return false;
  }
  if (disk != 0 || directoryDisk != 0 || entriesHere != entryCount) {
    *problem = "multi-volume zip archives are not supported";
    return false;
  }
  if (static_cast<uint64_t>(directoryOffset) + directorySize > end) {
    *problem = "zip central directory lies outside the archive";
    return false;
  }
  // One allocation for the whole listing; a count the directory cannot hold
  // reserves no more than it could.
  listing->entries.reserve(entryCount < directorySize / kCentralHeaderSize ? entryCount
                                                                          : directorySize / kCentralHeaderSize);
  uint64_t pos = directoryOffset;
  uint64_t directoryEnd = static_cast<uint64_t>(directoryOffset) + directorySize;
  for (uint32_t i = 0; i < entryCount; ++i) {
    if (directoryEnd - pos < kCentralHeaderSize || Get32(data + pos) != kCentralHeaderSignature) {
      *problem = "zip central directory is corrupt";
      return false;
    }
    const uint8_t* header = data + pos;
    uint16_t nameLength = Get16(header + 28);
    uint64_t recordSize = kCentralHeaderSize + nameLength + Get16(header + 30) + Get16(header + 32);
    if (directoryEnd - pos < recordSize) {
      *problem = "zip central directory is corrupt";
      return false;
    }
    listing->entries.emplace_back();
    ArchiveEntry& entry = listing->entries.back();
    entry.flags = Get16(header + 8);
    entry.method = Get16(header + 10);
    entry.hasCrc = true;
    entry.crc = Get32(header + 16);
    uint32_t packedSize = Get32(header + 20);
    uint32_t unpackedSize = Get32(header + 24);
    uint32_t localOffset = Get32(header + 42);
    if (packedSize == 0xFFFFFFFF || unpackedSize == 0xFFFFFFFF || localOffset == 0xFFFFFFFF) {
      *problem = "zip64 archives are not supported";
      return false;
    }
    // Local headers come before the central directory.
    if (static_cast<uint64_t>(localOffset) + kLocalHeaderSize > directoryOffset) {
      *problem = "zip entry offset lies outside the archive";
      return false;
    }
    entry.packedSize = packedSize;
    entry.size = unpackedSize;
    entry.localOffset = localOffset;
    const char* name = reinterpret_cast<const char*>(header + kCentralHeaderSize);
    if (entry.flags & kFlagUtf8Name) {
      SetNameFromUtf8(&entry, name, nameLength);
    } else {
      SetNameFromCp932(&entry, name, nameLength);
    }
    if (HasDosAttributes(header[5]) && (Get32(header + 38) & FILE_ATTRIBUTE_DIRECTORY)) entry.isDirectory = true;
    pos += recordSize;
  }
  return true;
}

struct CheckedSink {
  ByteSink* inner;
  uint32_t crc;
  uint64_t written;
};

static bool PassOn(CheckedSink* checked, const uint8_t* bytes, size_t count) {
  checked->crc = static_cast<uint32_t>(crc32(checked->crc, bytes, static_cast<uInt>(count)));
  checked->written += count;
  return checked->inner->write(checked->inner->context, bytes, count);
}

static bool CopyStored(const uint8_t* in, uint64_t inSize, CheckedSink* out, Problem* problem) {
  for (uint64_t done = 0; done < inSize;) {
    size_t count = static_cast<size_t>(inSize - done < kOutputBlock ? inSize - done : kOutputBlock);
    if (!PassOn(out, in + done, count)) {
      *problem = "cannot write the extracted file";
      return false;
    }
    done += count;
  }
  return true;
}

// Raw deflate (no zlib header). Output beyond the recorded size is refused as
// it comes, so a lying size cannot make us write without bound.
static bool Inflate(const uint8_t* in, uint64_t inSize, uint64_t expected, CheckedSink* out, Problem* problem) {
  z_stream stream = {};
  if (inflateInit2(&stream, -MAX_WBITS) != Z_OK) {
    *problem = "cannot start the deflate decoder";
    return false;
  }
  std::vector<uint8_t> block(kOutputBlock);
  stream.next_in = const_cast<Bytef*>(in);
  stream.avail_in = static_cast<uInt>(inSize);
  bool ok = false;
  for (;;) {
    stream.next_out = block.data();
    stream.avail_out = static_cast<uInt>(block.size());
    int status = inflate(&stream, Z_NO_FLUSH);
    size_t produced = block.size() - stream.avail_out;
    if (produced > expected - out->written) {
      *problem = "zip entry holds more data than recorded";
      break;
    }
    if (produced > 0 && !PassOn(out, block.data(), produced)) {
      *problem = "cannot write the extracted file";
      break;
    }
    if (status == Z_STREAM_END) {
      ok = true;
      break;
    }
    if (status != Z_OK) {
      // Z_BUF_ERROR here means the input ran out before the stream ended.
      *problem = status == Z_BUF_ERROR ? "deflate data is truncated" : "deflate data is corrupt";
      break;
    }
  }
  inflateEnd(&stream);
  return ok;
}

bool ExtractZipEntry(const uint8_t* data, uint64_t size, const ArchiveEntry& entry, ByteSink* sink, Problem* problem) {
  if (entry.flags & kFlagEncrypted) {
    *problem = "encrypted zip entries are not supported";
    return false;
  }
  if (entry.method != kMethodStored && entry.method != kMethodDeflated) {
    *problem = "zip compression method not supported";
    return false;
  }
  uint64_t at = entry.localOffset;
  if (at > size || size - at < kLocalHeaderSize || Get32(data + at) != kLocalHeaderSignature) {
    *problem = "zip local header is corrupt";
    return false;
  }
  uint64_t dataStart = at + kLocalHeaderSize + Get16(data + at + 26) + Get16(data + at + 28);
  if (dataStart > size || size - dataStart < entry.packedSize) {
    *problem = "zip entry data runs past the end of the archive";
    return false;
  }
  if (entry.packedSize > SIZE_MAX) {
    *problem = "zip entry too large";
    return false;
  }
  CheckedSink checked = {sink, 0, 0};
  const uint8_t* in = data + dataStart;
  if (entry.method == kMethodStored) {
    if (entry.packedSize != entry.size) {
      *problem = "stored zip entry sizes disagree";
      return false;
    }
    if (!CopyStored(in, entry.packedSize, &checked, problem)) return false;
  } else if (!Inflate(in, entry.packedSize, entry.size, &checked, problem)) {
    return false;
  }
  if (checked.written != entry.size) {
    *problem = "zip entry holds less data than recorded";
    return false;
  }
  if (checked.crc != entry.crc) {
    *problem = "CRC-32 mismatch";
    return false;
  }
  return true;
}
