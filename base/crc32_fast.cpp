// The fast CRC-32 routines: table lookups, five words side by side, for any
// processor (sixteen bytes a step in one chain serve the short heads and tails),
// and folding by carry-less multiplication where the processor has it. All
// keep the register inverted inside, as the byte-wise definition does.
//
// The vector routine is compiled for PCLMULQDQ and SSE4.1 by a function
// attribute only: the rest of the library stays plain i686, and the routine is
// called only after CPUID has shown both.
#include <cpuid.h>
#include <immintrin.h>

#include <cstring>

#include "base/crc32.h"

namespace {

constexpr uint32_t kPolynomial = 0xEDB88320u;

// Entry [k][i] is the CRC register after byte i followed by k zero bytes, so
// sixteen bytes can be looked up at once and the lookups combined by XOR.
struct SliceTables {
  uint32_t entry[16][256];
};

constexpr SliceTables MakeSliceTables() {
  SliceTables tables{};
  for (uint32_t i = 0; i < 256; ++i) {
    uint32_t c = i;
    for (int step = 0; step < 8; ++step) c = (c & 1) ? (c >> 1) ^ kPolynomial : c >> 1;
    tables.entry[0][i] = c;
  }
  for (int k = 1; k < 16; ++k) {
    for (int i = 0; i < 256; ++i) {
      uint32_t c = tables.entry[k - 1][i];
      tables.entry[k][i] = (c >> 8) ^ tables.entry[0][c & 0xFF];
    }
  }
  return tables;
}

// Built by the compiler: constant data, nothing to set up at load time.
constexpr SliceTables kSlice = MakeSliceTables();

inline uint32_t LoadLittle32(const unsigned char* p) {
  uint32_t value;
  memcpy(&value, p, sizeof value);  // x86 is little-endian and allows unaligned loads
  return value;
}

// reg is the inverted register; returns it, still inverted.
uint32_t SlicedRegister(uint32_t reg, const unsigned char* p, size_t size) {
  const uint32_t(*t)[256] = kSlice.entry;
  for (; size >= 16; p += 16, size -= 16) {
    // The last twelve bytes do not depend on the register: their lookups go
    // first, so only the four of the first word stand between one step's
    // register and the next.
    uint32_t b = LoadLittle32(p + 4);
    uint32_t c = LoadLittle32(p + 8);
    uint32_t d = LoadLittle32(p + 12);
    uint32_t rest = t[11][b & 0xFF] ^ t[10][(b >> 8) & 0xFF] ^ t[9][(b >> 16) & 0xFF] ^ t[8][b >> 24] ^ t[7][c & 0xFF] ^
                    t[6][(c >> 8) & 0xFF] ^ t[5][(c >> 16) & 0xFF] ^ t[4][c >> 24] ^ t[3][d & 0xFF] ^
                    t[2][(d >> 8) & 0xFF] ^ t[1][(d >> 16) & 0xFF] ^ t[0][d >> 24];
    uint32_t a = LoadLittle32(p) ^ reg;
    reg = rest ^ ((t[15][a & 0xFF] ^ t[14][(a >> 8) & 0xFF]) ^ (t[13][(a >> 16) & 0xFF] ^ t[12][a >> 24]));
  }
  for (; size > 0; ++p, --size) reg = (reg >> 8) ^ t[0][(reg ^ *p) & 0xFF];
  return reg;
}

// Five independent registers ("braids"), each taking every fifth 32-bit word,
// so that the table lookups of one do not wait on another's: on processors
// where sixteen lookups in one chain stall, this keeps pace with the best
// table routines. Entry [k][v] is the register after byte v at position k of
// a word followed by the 19 - k bytes up to that braid's next word.
constexpr int kBraids = 5;
constexpr int kBraidBlock = kBraids * 4;

struct BraidTables {
  uint32_t entry[4][256];
};

constexpr BraidTables MakeBraidTables() {
  BraidTables tables{};
  for (int i = 0; i < 256; ++i) {
    uint32_t c = kSlice.entry[15][i];
    // Sixteen zero bytes are in entry 15; each further one is a step of table 0.
    for (int zeros = 16; zeros < kBraidBlock; ++zeros) {
      c = (c >> 8) ^ kSlice.entry[0][c & 0xFF];
      tables.entry[kBraidBlock - 1 - zeros][i] = c;
    }
  }
  return tables;
}

constexpr BraidTables kBraid = MakeBraidTables();

// The register after a word of zero bytes.
inline uint32_t ZeroWord(uint32_t reg) {
  for (int step = 0; step < 4; ++step) reg = (reg >> 8) ^ kSlice.entry[0][reg & 0xFF];
  return reg;
}

inline uint32_t BraidStep(uint32_t word) {
  const uint32_t(*b)[256] = kBraid.entry;
  return b[0][word & 0xFF] ^ b[1][(word >> 8) & 0xFF] ^ b[2][(word >> 16) & 0xFF] ^ b[3][word >> 24];
}

// reg is the inverted register; returns it, still inverted.
uint32_t BraidedRegister(uint32_t reg, const unsigned char* p, size_t size) {
  const uint32_t* t0 = kSlice.entry[0];
  for (; size > 0 && (reinterpret_cast<uintptr_t>(p) & 3) != 0; ++p, --size) reg = (reg >> 8) ^ t0[(reg ^ *p) & 0xFF];
  size_t blocks = size / kBraidBlock;
  if (blocks >= 2) {
    uint32_t c0 = reg, c1 = 0, c2 = 0, c3 = 0, c4 = 0;
    const uint32_t* w = reinterpret_cast<const uint32_t*>(p);
    for (size_t i = 1; i < blocks; ++i, w += kBraids) {
      uint32_t w0 = c0 ^ w[0], w1 = c1 ^ w[1], w2 = c2 ^ w[2], w3 = c3 ^ w[3], w4 = c4 ^ w[4];
      c0 = BraidStep(w0);
      c1 = BraidStep(w1);
      c2 = BraidStep(w2);
      c3 = BraidStep(w3);
      c4 = BraidStep(w4);
    }
    // The last block joins the braids word by word into one register.
    reg = ZeroWord(c0 ^ w[0]);
    reg = ZeroWord(c1 ^ w[1] ^ reg);
    reg = ZeroWord(c2 ^ w[2] ^ reg);
    reg = ZeroWord(c3 ^ w[3] ^ reg);
    reg = ZeroWord(c4 ^ w[4] ^ reg);
    p += blocks * kBraidBlock;
    size -= blocks * kBraidBlock;
  }
  for (; size > 0; ++p, --size) reg = (reg >> 8) ^ t0[(reg ^ *p) & 0xFF];
  return reg;
}

// Folding constants for the reflected polynomial. Each kN is x^n mod P(x),
// bit-reflected in 32 bits and shifted left by one, which the reflected
// product of two 64-bit halves needs; n is the distance a 64-bit half is
// carried forward, less the 32 bits of x^32 the CRC itself multiplies by:
//   fold 4 x 128 bits:  x^(512+32), x^(512-32)
//   fold 1 x 128 bits:  x^(128+32), x^(128-32)
//   64 to 32 bits:      x^64
// The last pair is Barrett's reduction: P(x) and floor(x^64 / P(x)), both as
// 33-bit reflected values.
alignas(16) const uint64_t kFold4[2] = {0x154442BD4ull, 0x1C6E41596ull};
alignas(16) const uint64_t kFold1[2] = {0x1751997D0ull, 0x0CCAA009Eull};
alignas(16) const uint64_t kFold64[2] = {0x163CD6124ull, 0};
alignas(16) const uint64_t kBarrett[2] = {0x1DB710641ull, 0x1F7011641ull};

#define CRC_VECTOR_TARGET __attribute__((target("pclmul,sse4.1")))

// x carried forward over the next block's width (k selects how far), then that
// block added in.
CRC_VECTOR_TARGET __attribute__((always_inline)) inline __m128i Fold(__m128i x, __m128i k, __m128i next) {
  return _mm_xor_si128(_mm_xor_si128(_mm_clmulepi64_si128(x, k, 0x00), _mm_clmulepi64_si128(x, k, 0x11)), next);
}

// reg is the inverted register; p is 16-byte aligned and size a multiple of 16
// of at least 64. Four accumulators and the constant fit the eight XMM
// registers a 32-bit process has. The stack is realigned on entry because a
// 32-bit Windows caller guarantees only 4 bytes and the compiler may spill.
CRC_VECTOR_TARGET __attribute__((force_align_arg_pointer, noinline)) uint32_t FoldedRegister(uint32_t reg,
                                                                                             const unsigned char* p,
                                                                                             size_t size) {
  const __m128i* block = reinterpret_cast<const __m128i*>(p);
  __m128i x0 = _mm_xor_si128(_mm_load_si128(block), _mm_cvtsi32_si128(static_cast<int>(reg)));
  __m128i x1 = _mm_load_si128(block + 1);
  __m128i x2 = _mm_load_si128(block + 2);
  __m128i x3 = _mm_load_si128(block + 3);
  block += 4;
  size -= 64;

  __m128i k = _mm_load_si128(reinterpret_cast<const __m128i*>(kFold4));
  for (; size >= 64; block += 4, size -= 64) {
    x0 = Fold(x0, k, _mm_load_si128(block));
    x1 = Fold(x1, k, _mm_load_si128(block + 1));
    x2 = Fold(x2, k, _mm_load_si128(block + 2));
    x3 = Fold(x3, k, _mm_load_si128(block + 3));
  }

  k = _mm_load_si128(reinterpret_cast<const __m128i*>(kFold1));
  x0 = Fold(x0, k, x1);
  x0 = Fold(x0, k, x2);
  x0 = Fold(x0, k, x3);
  for (; size >= 16; ++block, size -= 16) x0 = Fold(x0, k, _mm_load_si128(block));

  // 128 bits to 64: the first half carried past the second (k4).
  const __m128i low32 = _mm_setr_epi32(-1, 0, -1, 0);
  x0 = _mm_xor_si128(_mm_srli_si128(x0, 8), _mm_clmulepi64_si128(x0, k, 0x10));
  // 64 bits to 32 more, by x^64.
  __m128i high = _mm_srli_si128(x0, 4);
  x0 = _mm_and_si128(x0, low32);
  x0 = _mm_xor_si128(_mm_clmulepi64_si128(x0, _mm_load_si128(reinterpret_cast<const __m128i*>(kFold64)), 0x00), high);
  // Barrett: quotient = floor(x0 / P) by multiplying with floor(x^64 / P), then
  // x0 - quotient * P leaves the remainder in the second 32-bit lane.
  const __m128i barrett = _mm_load_si128(reinterpret_cast<const __m128i*>(kBarrett));
  __m128i q = _mm_clmulepi64_si128(_mm_and_si128(x0, low32), barrett, 0x10);
  q = _mm_clmulepi64_si128(_mm_and_si128(q, low32), barrett, 0x00);
  x0 = _mm_xor_si128(x0, q);
  return static_cast<uint32_t>(_mm_extract_epi32(x0, 1));
}

}  // namespace

bool Crc32HasFolding() {
  unsigned eax = 0, ebx = 0, ecx = 0, edx = 0;
  // __get_cpuid also checks that CPUID and leaf 1 exist at all.
  if (!__get_cpuid(1, &eax, &ebx, &ecx, &edx)) return false;
  return (ecx & bit_PCLMUL) != 0 && (ecx & bit_SSE4_1) != 0;
}

uint32_t Crc32UpdateSliced(uint32_t crc, const void* data, size_t size) {
  return ~SlicedRegister(~crc, static_cast<const unsigned char*>(data), size);
}

uint32_t Crc32UpdateBraided(uint32_t crc, const void* data, size_t size) {
  return ~BraidedRegister(~crc, static_cast<const unsigned char*>(data), size);
}

uint32_t Crc32UpdateFolded(uint32_t crc, const void* data, size_t size) {
  const unsigned char* p = static_cast<const unsigned char*>(data);
  uint32_t reg = ~crc;
  // Short data is not worth the set-up; otherwise the bytes up to the first
  // 16-byte boundary go the table way so the vector loads are aligned.
  if (size >= 128) {
    size_t head = (16 - (reinterpret_cast<uintptr_t>(p) & 15)) & 15;
    reg = SlicedRegister(reg, p, head);
    p += head;
    size -= head;
    size_t blocks = size & ~static_cast<size_t>(15);
    reg = FoldedRegister(reg, p, blocks);
    p += blocks;
    size -= blocks;
  }
  return ~SlicedRegister(reg, p, size);
}
