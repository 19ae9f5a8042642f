// Internal records of the 7z reader: the bounds-checked byte cursor and the
// streams records (packed streams, folders, their coders and substreams),
// shared by the stream parser and the header reader.
#pragma once
#include <cstdint>
#include <utility>
#include <vector>

#include "archiver/archiver.h"

constexpr uint64_t kSevenZipSignatureHeaderSize = 32;

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

extern const char kSevenZipCorrupt[];

// A bounds-checked cursor. A read past the end yields zeros and sets failed,
// which the callers test before a value sizes or indexes anything.
struct Reader {
  const uint8_t* data;
  size_t size;
  size_t pos;
  bool failed;
};

Reader MakeReader(const uint8_t* data, size_t size);
uint64_t Remaining(const Reader* r);
uint8_t ReadByte(Reader* r);
uint32_t ReadUInt32(Reader* r);
uint64_t ReadNumber(Reader* r);
void SkipData(Reader* r);
bool ReadBits(Reader* r, uint64_t count, std::vector<bool>* bits);

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

// One streams record: where the packed streams lie, the folders that decode
// them, and how each folder's output divides into files.
struct StreamsRecord {
  uint64_t packPos = 0;
  std::vector<uint64_t> packSizes;
  std::vector<FolderRecord> folders;
  std::vector<uint64_t> substreamSizes;
  std::vector<bool> substreamHasCrc;
  std::vector<uint32_t> substreamCrcs;
};

bool ReadStreamsInfo(Reader* r, StreamsRecord* streams, Problem* problem);
// Places every folder's packed stream in the file; all of them must lie inside.
bool BuildFolders(const StreamsRecord& streams, uint64_t fileSize, std::vector<SevenZipFolder>* folders,
                  Problem* problem);
