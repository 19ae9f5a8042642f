// Registration throughput: kFileCount ROM files with a kHeaderSize-byte header
// go through the plug-in's own per-file registration, as the run calls it,
// next to the least work the same job needs over the same files: read each
// file, write it back without its header, zlib's crc32() over the bytes written,
// the relation line, and the delete of the copy. Best of kRuns for each.
#include <windows.h>
#include <zlib.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "bench/bench_support.h"
#include "base/state.h"
#include "plugin/plugin.h"
#include "profile/profile.h"
#include "registration/register_file.h"
#include "relation/relation_file.h"
#include "relation/relation_pending.h"
#include "registration/run.h"

namespace {

constexpr int kFileCount = 500;
constexpr DWORD kHeaderSize = 16;  // the profile's default, which initPlugin sets
constexpr DWORD kPayloadSize = 256u << 10;
constexpr DWORD kFileSize = kHeaderSize + kPayloadSize;
constexpr int kRuns = 3;

char romFolder[MAX_PATH];
char fileNames[kFileCount][32];
unsigned long expectedCrcs[kFileCount];  // zlib's, over each payload as made

// The host's part is not measured: it takes the copy and returns at once.
int __stdcall IgnoreRegister(const char*) { return 0; }

int __stdcall IgnoreLaunch(const char*) { return 0; }

bool MakeRomFiles(unsigned char* bytes) {
  uint32_t seed = 2024;
  for (int i = 0; i < kFileCount; ++i) {
    // Every file different, so that no CRC or copy can stand in for another.
    for (DWORD b = 0; b < kFileSize; ++b) {
      seed = seed * 1664525u + 1013904223u;
      bytes[b] = static_cast<unsigned char>(seed >> 24);
    }
    expectedCrcs[i] = crc32(crc32(0L, Z_NULL, 0), bytes + kHeaderSize, kPayloadSize);
    snprintf(fileNames[i], sizeof fileNames[i], "rom%04d.nes", i);
    char path[MAX_PATH];
    if (snprintf(path, sizeof path, "%s%s", romFolder, fileNames[i]) >= (int)sizeof path) return false;
    if (!WriteBytes(path, bytes, kFileSize)) return false;
  }
  return true;
}

// Counts the relation file's lines whose CRC text is the expected one for the
// file they name, in the order the files were handed over.
int CountRightLines(const char* relationPath) {
  FILE* file = fopen(relationPath, "r");
  if (file == nullptr) return 0;
  char line[2 * MAX_PATH];
  int right = 0;
  for (int i = 0; i < kFileCount && fgets(line, sizeof line, file) != nullptr; ++i) {
    char expected[2 * MAX_PATH];
    snprintf(expected, sizeof expected, "%08lX %s%s\n", expectedCrcs[i], romFolder, fileNames[i]);
    if (strcmp(line, expected) == 0) ++right;
  }
  fclose(file);
  return right;
}

// One pass of the plug-in over all files into the run's relation file, through
// the run record the dialog makes. Returns the seconds taken, or a negative
// value when a file was not registered.
double RegisterAll(const char* relationPath) {
  WIN32_FIND_DATAA entry = {};
  double start = Now();
  RegistrationRun* run = MakeRegistrationRun();
  if (run == nullptr) return -1;
  bool all = strcmp(run->relation.path, relationPath) == 0 && OpenRelationFile(&run->relation);
  for (int i = 0; all && i < kFileCount; ++i) {
    snprintf(entry.cFileName, sizeof entry.cFileName, "%s", fileNames[i]);
    const char* skipReason = nullptr;
    RegisterResult result = BeginRomFile(run, nullptr, romFolder, &entry, &skipReason);
    while (result == kRegisterInProgress) result = ContinueRomFile(run, &skipReason);
    if (result != kRegisterDone) all = false;
  }
  all = CommitRelationFile(&run->relation) && all;
  double seconds = Now() - start;
  FreeRegistrationRun(run);
  return all ? seconds : -1;
}

// The same job done plainly: one read, one write of the bytes past the header,
// zlib's CRC of those bytes, the delete and the relation line.
bool ReferenceOne(const char* sourcePath, const char* copyPath, unsigned char* buffer, FILE* relation) {
  HANDLE in = CreateFileA(sourcePath, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN,
                          nullptr);
  if (in == INVALID_HANDLE_VALUE) return false;
  DWORD size = GetFileSize(in, nullptr);
  DWORD got = 0;
  bool read = size != INVALID_FILE_SIZE && size >= kHeaderSize && size <= kFileSize &&
              ReadFile(in, buffer, size, &got, nullptr) && got == size;
  CloseHandle(in);
  if (!read) return false;
  if (!WriteBytes(copyPath, buffer + kHeaderSize, size - kHeaderSize)) {
    DeleteFileA(copyPath);
    return false;
  }
  unsigned long crc = crc32(crc32(0L, Z_NULL, 0), buffer + kHeaderSize, size - kHeaderSize);
  DeleteFileA(copyPath);
  return fprintf(relation, "%08lX %s\n", crc, sourcePath) > 0;
}

double ReferenceAll(const char* relationPath, unsigned char* buffer) {
  double start = Now();
  FILE* relation = fopen(relationPath, "w");
  if (relation == nullptr) return -1;
  bool all = true;
  for (int i = 0; i < kFileCount; ++i) {
    char sourcePath[MAX_PATH];
    char copyPath[MAX_PATH];
    snprintf(sourcePath, sizeof sourcePath, "%s%s", romFolder, fileNames[i]);
    snprintf(copyPath, sizeof copyPath, "%s%s", gState.tempDir, fileNames[i]);
    if (!ReferenceOne(sourcePath, copyPath, buffer, relation)) all = false;
  }
  all = fclose(relation) == 0 && all;
  double seconds = Now() - start;
  return all ? seconds : -1;
}

void PrintRate(const char* label, double seconds) {
  double megabytes = static_cast<double>(kFileCount) * kFileSize / 1e6;
  printf("  %-34s %9.1f files/s %8.1f MB/s %9.1f ms\n", label, kFileCount / seconds, megabytes / seconds,
         seconds * 1e3);
}

}  // namespace

int main() {
  char benchFolder[MAX_PATH];
  char dataDir[MAX_PATH];
  if (!MakeScratchFolder("registration_bench", benchFolder, sizeof benchFolder) ||
      !MakeSubfolder(benchFolder, "roms", romFolder, sizeof romFolder) ||
      !MakeSubfolder(benchFolder, "data", dataDir, sizeof dataDir)) {
    fprintf(stderr, "registration_bench: cannot make the scratch folders\n");
    return 1;
  }
  unsigned char* buffer = static_cast<unsigned char*>(malloc(kFileSize));
  if (buffer == nullptr || !MakeRomFiles(buffer)) {
    fprintf(stderr, "registration_bench: cannot make the ROM files\n");
    free(buffer);
    RemoveTree(benchFolder);
    return 1;
  }

  // Started in-process as the host would; the run then names the relation file
  // after the dataset, as OpenRelationFile does.
  PluginAttach(GetModuleHandleA(nullptr));
  char relationPath[kPathSize];
  char referencePath[MAX_PATH];
  bool started = initPlugin(0, IgnoreLaunch, 0, IgnoreRegister, 0, dataDir) == 0 &&
                 CopyText(gState.datasetName, sizeof gState.datasetName, "bench") &&
                 DatasetFilePath(relationPath, sizeof relationPath, ".rel") &&
                 snprintf(referencePath, sizeof referencePath, "%sreference.rel", dataDir) < (int)sizeof referencePath;
  if (!started || gState.profile.headerSize != static_cast<int32_t>(kHeaderSize)) {
    fprintf(stderr, "registration_bench: the plug-in did not start\n");
    free(buffer);
    RemoveTree(benchFolder);
    return 1;
  }

  double bestPlugin = 1e30, bestReference = 1e30;
  bool ok = true;
  int pluginRight = 0, referenceRight = 0;
  // Alternated, so that both see the same state of the page cache and disk.
  for (int run = 0; run < kRuns && ok; ++run) {
    double plugin = RegisterAll(relationPath);
    double reference = ReferenceAll(referencePath, buffer);
    ok = plugin > 0 && reference > 0;
    if (ok && plugin < bestPlugin) bestPlugin = plugin;
    if (ok && reference < bestReference) bestReference = reference;
  }
  if (ok) {
    pluginRight = CountRightLines(relationPath);
    referenceRight = CountRightLines(referencePath);
  }
  free(buffer);
  RemoveTree(benchFolder);
  if (!ok) {
    fprintf(stderr, "registration_bench: a file was not registered\n");
    return 1;
  }

  printf("Registration of %d files of %lu KiB + a %lu-byte header, best of %d runs (MB = 10^6 bytes)\n", kFileCount,
         static_cast<unsigned long>(kPayloadSize >> 10), static_cast<unsigned long>(kHeaderSize), kRuns);
  PrintRate("per-file registration", bestPlugin);
  PrintRate("reference (read+write, zlib crc32)", bestReference);
  printf("  ratio registration/reference     %.3f (throughput)", bestReference / bestPlugin);
  EndRowWithoutGoal("the per-file step alone, without the run around it; run_bench holds the whole run to its goal");
  printf("  relation lines right: registration %d/%d, reference %d/%d\n", pluginRight, kFileCount, referenceRight,
         kFileCount);
  return GoalsExitCode(pluginRight == kFileCount && referenceRight == kFileCount);
}
