// Throughput of the CRC routines over a 64 MiB buffer, and of the file CRC
// over a 64 MiB file (opening and mapping included), each as a ratio against
// zlib's crc32() over the same buffer in the same run. Every measurement is
// taken several times, interleaved; the table shows the best run, and each
// goal is held to the median of the runs' ratios.
#include <windows.h>
#include <zlib.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "bench/bench_support.h"
#include "bench/file_crc.h"
#include "base/crc32.h"

namespace {

// One table step a byte, over zlib's table: where the faster routines started from.
uint32_t Crc32UpdateBytewise(uint32_t crc, const void* data, size_t size) {
  const unsigned char* bytes = static_cast<const unsigned char*>(data);
  const z_crc_t* table = get_crc_table();
  uint32_t c = ~crc;
  for (size_t i = 0; i < size; ++i) c = (c >> 8) ^ table[(c ^ bytes[i]) & 0xFF];
  return ~c;
}

constexpr DWORD kSize = 64u << 20;
constexpr int kRuns = 7;

bool WriteWhole(const char* path, const unsigned char* bytes, DWORD size) {
  HANDLE file = CreateFileA(path, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  DWORD written = 0;
  BOOL ok = WriteFile(file, bytes, size, &written, nullptr);
  return CloseHandle(file) && ok && written == size;
}

// What is measured: a name, the best time so far and the CRC it gave.
struct Subject {
  const char* name;
  uint32_t (*update)(uint32_t crc, const void* data, size_t size);  // null: zlib, file or memcpy
  double best;
  uint32_t crc;
  double seconds[kRuns];
};

enum { kZlib, kBytewise, kDispatched, kSliced, kBraided, kFolded, kFile, kCopy, kSubjectCount };

}  // namespace

int main() {
  char folder[MAX_PATH];
  char path[MAX_PATH];
  if (GetTempPathA(sizeof folder, folder) == 0 ||
      snprintf(path, sizeof path, "%scv_crc_bench_%lu.bin", folder, GetCurrentProcessId()) >= (int)sizeof path) {
    fprintf(stderr, "crc_bench: no temporary folder\n");
    return 1;
  }
  unsigned char* source = static_cast<unsigned char*>(malloc(kSize));
  unsigned char* target = static_cast<unsigned char*>(malloc(kSize));
  if (source == nullptr || target == nullptr) {
    fprintf(stderr, "crc_bench: out of memory\n");
    return 1;
  }
  uint32_t seed = 12345;
  for (DWORD i = 0; i < kSize; ++i) {
    seed = seed * 1664525u + 1013904223u;
    source[i] = static_cast<unsigned char>(seed >> 24);
  }
  memset(target, 0, kSize);  // fault the pages in before timing
  if (!WriteWhole(path, source, kSize)) {
    fprintf(stderr, "crc_bench: cannot write %s\n", path);
    return 1;
  }

  const bool folding = Crc32HasFolding();
  Subject subjects[kSubjectCount] = {
      {"zlib crc32() (reference)", nullptr, 1e30, 0, {}},
      {"byte table (before)", Crc32UpdateBytewise, 1e30, 0, {}},
      {"Crc32Update (dispatched)", Crc32Update, 1e30, 0, {}},
      {"slice-by-16 (forced)", Crc32UpdateSliced, 1e30, 0, {}},
      {"braided (forced)", Crc32UpdateBraided, 1e30, 0, {}},
      {"folding (forced)", folding ? Crc32UpdateFolded : nullptr, 1e30, 0, {}},
      {"ComputeFileCrc32 (file)", nullptr, 1e30, 0, {}},
      {"memcpy (same bytes)", nullptr, 1e30, 0, {}},
  };
  bool fileOk = true;
  for (int run = 0; run < kRuns; ++run) {
    for (int i = 0; i < kSubjectCount; ++i) {
      Subject& s = subjects[i];
      if (i == kFolded && !folding) continue;
      if (i == kCopy) source[run] ^= 1;  // a different copy each run, so none can be skipped
      double start = Now();
      if (i == kZlib) {
        s.crc = static_cast<uint32_t>(crc32(0L, source, kSize));
      } else if (i == kFile) {
        fileOk = ComputeFileCrc32(path, &s.crc) && fileOk;
      } else if (i == kCopy) {
        memcpy(target, source, kSize);
      } else {
        s.crc = s.update(0, source, kSize);
      }
      double seconds = Now() - start;
      if (i == kCopy) source[run] ^= 1;
      s.seconds[run] = seconds;
      if (seconds < s.best) s.best = seconds;
    }
  }
  DeleteFileA(path);
  bool copied = memcmp(target + kRuns, source + kRuns, kSize - kRuns) == 0;
  free(target);
  free(source);
  if (!fileOk) {
    fprintf(stderr, "crc_bench: ComputeFileCrc32 failed\n");
    return 1;
  }

  const double zlib = subjects[kZlib].best;
  printf("CRC-32 of 64 MiB, best of %d runs (MB = 10^6 bytes); ratio = zlib time / time\n", kRuns);
  printf("  processor has PCLMULQDQ and SSE4.1: %s\n", folding ? "yes" : "no");
  bool equal = true;
  for (int i = 0; i < kSubjectCount; ++i) {
    const Subject& s = subjects[i];
    if (i == kFolded && !folding) {
      printf("  %-26s  (not available)\n", s.name);
      continue;
    }
    printf("  %-26s %8.1f MB/s %8.2f ms  ratio %6.2f", s.name, kSize / s.best / 1e6, s.best * 1e3, zlib / s.best);
    if (i != kCopy) {
      printf("  %08lX", static_cast<unsigned long>(s.crc));
      equal = equal && s.crc == subjects[kZlib].crc;
    }
    printf("\n");
  }
  struct Goal {
    int subject;
    double ratio;
  };
  const Goal goals[] = {{kDispatched, 2.0}, {kBraided, 0.8}, {kFile, 1.3}};
  for (const Goal& goal : goals) {
    // Each run's ratio against zlib in the same run, so that a slow moment
    // of the machine weighs on both sides of it.
    double ratios[kRuns];
    for (int run = 0; run < kRuns; ++run) ratios[run] = subjects[kZlib].seconds[run] / subjects[goal.subject].seconds[run];
    std::sort(ratios, ratios + kRuns);
    printf("  %-26s ratio to zlib, median of %d runs %.2f", subjects[goal.subject].name, kRuns, ratios[kRuns / 2]);
    EndRowWithGoal(ratios[kRuns / 2], kAtLeast, goal.ratio, "x zlib");
  }
  printf("  CRCs %s; copy %s\n", equal ? "all equal" : "DIFFERENT", copied ? "checked" : "WRONG");
  return GoalsExitCode(equal && copied);
}
