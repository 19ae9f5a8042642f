// Decoding of one 7z folder: the single coder's method over its packed stream,
// with the output counted and its CRC-32 checked on the way to the sink.
#include <zlib.h>

#include "archiver/archiver.h"

namespace {

constexpr size_t kCopyBlock = 1024 * 1024;

struct CountingSink {
  ByteSink* inner;
  uint32_t crc;
  uint64_t written;
  uint64_t limit;
};

bool CountAndPass(void* context, const uint8_t* data, size_t size) {
  auto* counting = static_cast<CountingSink*>(context);
  // More output than the folder declares is corrupt input, refused before it lands.
  if (size > counting->limit - counting->written) return false;
  counting->crc = static_cast<uint32_t>(crc32(counting->crc, data, static_cast<uInt>(size)));
  counting->written += size;
  return counting->inner->write(counting->inner->context, data, size);
}

}  // namespace

bool DecodeSevenZipFolder(const uint8_t* data, uint64_t size, const SevenZipFolder& folder, ByteSink* sink,
                          Problem* problem) {
  if (folder.method == kMethodUnsupported) {
    *problem = folder.unsupportedWhy != nullptr ? folder.unsupportedWhy : "7z compression method not supported";
    return false;
  }
  if (folder.packOffset > size || folder.packSize > size - folder.packOffset) {
    *problem = "7z packed data lies outside the archive";
    return false;
  }
  const uint8_t* in = data + folder.packOffset;
  size_t inSize = static_cast<size_t>(folder.packSize);
  CountingSink counting = {sink, 0, 0, folder.unpackSize};
  ByteSink counted = {CountAndPass, &counting};
  bool ok = false;
  switch (folder.method) {
    case kMethodCopy:
      if (folder.packSize != folder.unpackSize) {
        *problem = "7z stored sizes disagree";
        return false;
      }
      ok = true;
      for (size_t done = 0; done < inSize && ok;) {
        size_t count = inSize - done < kCopyBlock ? inSize - done : kCopyBlock;
        ok = counted.write(counted.context, in + done, count);
        done += count;
      }
      if (!ok) *problem = "decoding stopped: output refused";
      break;
    case kMethodLzma:
      ok = DecodeLzma(in, inSize, folder.props.data(), folder.props.size(), folder.unpackSize, &counted, problem);
      break;
    case kMethodLzma2:
      ok = DecodeLzma2(in, inSize, folder.props.data(), folder.props.size(), folder.unpackSize, &counted, problem);
      break;
    case kMethodUnsupported:
      break;
  }
  if (!ok) return false;
  if (counting.written != folder.unpackSize) {
    *problem = "7z folder holds less data than recorded";
    return false;
  }
  if (folder.hasCrc && counting.crc != folder.crc) {
    *problem = "CRC-32 mismatch";
    return false;
  }
  return true;
}
