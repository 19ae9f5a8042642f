// The CRC routines and the CRC text, held against zlib's crc32() and the C
// library's formatting: every routine the dispatch may choose, at every length
// and alignment, whole and in pieces.
#include <gtest/gtest.h>
#include <zlib.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "base/crc32.h"
#include "registration/crc_text.h"
#include "support/host_double.h"

namespace {

// Every routine Crc32Update may choose, and Crc32Update itself. The folding one
// only where the processor has it (listed with a null routine otherwise).
struct CrcRoutineCase {
  const char* name;
  uint32_t (*update)(uint32_t crc, const void* data, size_t size);
};

std::vector<CrcRoutineCase> CrcRoutines() {
  return {
      {"sliced", Crc32UpdateSliced},
      {"braided", Crc32UpdateBraided},
      {"folded", Crc32HasFolding() ? Crc32UpdateFolded : nullptr},
      {"dispatched", Crc32Update},
  };
}

uint32_t ZlibCrc(const void* data, size_t size) {
  return static_cast<uint32_t>(crc32(0L, static_cast<const Bytef*>(data), static_cast<uInt>(size)));
}

// Lengths 0 to 4,096 at every offset from a 16-byte boundary: every head,
// every tail and every number of whole vector blocks.
TEST(CrcRoutines, EveryLengthAtEveryAlignmentMatchesZlib) {
  constexpr size_t kMaxLength = 4096;
  std::string pattern = RandomBytes(kMaxLength, 99);
  std::vector<uint32_t> expected(kMaxLength + 1);
  for (size_t length = 0; length <= kMaxLength; ++length) expected[length] = ZlibCrc(pattern.data(), length);
  std::vector<unsigned char> storage(kMaxLength + 64);
  unsigned char* aligned = storage.data() + ((16 - reinterpret_cast<uintptr_t>(storage.data()) % 16) % 16);
  for (size_t alignment = 0; alignment < 16; ++alignment) {
    unsigned char* data = aligned + alignment;
    memcpy(data, pattern.data(), kMaxLength);
    for (const CrcRoutineCase& routine : CrcRoutines()) {
      if (routine.update == nullptr) continue;
      int mismatches = 0;
      for (size_t length = 0; length <= kMaxLength && mismatches < 5; ++length) {
        if (routine.update(0, data, length) == expected[length]) continue;
        ++mismatches;
        ADD_FAILURE() << routine.name << " length " << length << " alignment " << alignment;
      }
    }
  }
}

// Megabytes of data, whole and in pieces cut at uneven places: the CRC carried
// from one call into the next is the one the run's copy loop relies on.
TEST(CrcRoutines, LargeBuffersWholeAndInPiecesMatchZlib) {
  const size_t sizes[] = {(1u << 20) + 13, (3u << 20) - 1, 4u << 20};
  for (size_t size : sizes) {
    std::string bytes = RandomBytes(size, static_cast<uint32_t>(size));
    const unsigned char* data = reinterpret_cast<const unsigned char*>(bytes.data());
    uint32_t expected = ZlibCrc(data, size);
    const size_t cuts[] = {0, 1, 63, 100003, size / 2 + 7, size - 5};
    for (const CrcRoutineCase& routine : CrcRoutines()) {
      if (routine.update == nullptr) continue;
      EXPECT_EQ(routine.update(0, data, size), expected) << routine.name << " size " << size;
      uint32_t crc = 0;
      size_t done = 0;
      for (size_t cut : cuts) {
        crc = routine.update(crc, data + done, cut - done);
        done = cut;
      }
      crc = routine.update(crc, data + done, size - done);
      EXPECT_EQ(crc, expected) << routine.name << " in pieces, size " << size;
    }
  }
}

// Eight upper-case digits with leading zeros, as printf writes them; a buffer
// without room for all nine bytes gets none of them.
TEST(CrcText, EightUpperCaseDigitsOrNothing) {
  std::vector<uint32_t> crcs = {0, 0x65E3, 0xCBF43926u, 0xFFFFFFFFu, 0x0000000Au};
  std::string random = RandomBytes(4 * 200, 5);
  for (size_t i = 0; i < random.size(); i += 4) crcs.push_back(ZlibCrc(random.data() + i, 4));
  for (uint32_t crc : crcs) {
    char expected[16];
    snprintf(expected, sizeof expected, "%08lX", static_cast<unsigned long>(crc));
    char text[kCrcTextSize];
    CrcToText(crc, text, sizeof text);
    EXPECT_STREQ(text, expected);
    char small[kCrcTextSize - 1];
    memset(small, 'x', sizeof small);
    CrcToText(crc, small, sizeof small);
    EXPECT_STREQ(small, "");
  }
}

}  // namespace
