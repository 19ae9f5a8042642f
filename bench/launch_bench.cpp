// Launch lookup speed: LaunchByCrc on a relation file of kLineCount lines,
// looking up the last line's CRC text (the worst case: the whole file is read),
// next to a plain fgets loop with strncmp on the first eight characters over
// the same file. Best of kRuns, each of kLookupsPerRun lookups.
#include <windows.h>

#include <cstdio>
#include <cstring>

#include "bench/bench_support.h"
#include "launch/launch.h"
#include "base/state.h"
#include "plugin/plugin.h"
#include "profile/profile.h"

namespace {

constexpr int kLineCount = 10000;
constexpr int kPathLength = 100;  // each source path, about a real collection's
constexpr int kRuns = 5;
constexpr int kLookupsPerRun = 20;
constexpr int kLaunchResult = 7;

char targetPath[MAX_PATH];
int launchCalls;
int wrongLaunches;

// The host's part is not measured: it notes what it was handed and returns.
int __stdcall CountLaunch(const char* path) {
  ++launchCalls;
  if (strcmp(path, targetPath) != 0) ++wrongLaunches;
  return kLaunchResult;
}

int __stdcall IgnoreRegister(const char*) { return 0; }

// Distinct for every line: an odd multiplier is a bijection on 32 bits.
unsigned long LineCrc(int line) { return static_cast<unsigned long>(static_cast<uint32_t>(line + 1) * 2654435761u); }

// "<romFolder>Game NNNNN xxx...x.nes", padded to kPathLength bytes.
bool LinePath(const char* romFolder, int line, char* path, size_t size) {
  int written = snprintf(path, size, "%sGame %05d ", romFolder, line);
  if (written < 0 || written + 4 > kPathLength || static_cast<size_t>(kPathLength) >= size) return false;
  while (written < kPathLength - 4) path[written++] = 'x';
  memcpy(path + written, ".nes", 5);
  return true;
}

// Written as the registration run writes it: text mode, "CRC path" per line.
bool WriteRelationFile(const char* relationPath, const char* romFolder) {
  FILE* file = fopen(relationPath, "w");
  if (file == nullptr) return false;
  bool written = true;
  for (int line = 0; line < kLineCount && written; ++line) {
    char path[MAX_PATH];
    written = LinePath(romFolder, line, path, sizeof path) && fprintf(file, "%08lX %s\n", LineCrc(line), path) > 0;
  }
  return fclose(file) == 0 && written;
}

// The plain lookup: the first line whose first eight characters are crcText.
bool ReferenceLookup(const char* relationPath, const char* crcText, char* found, size_t size) {
  FILE* file = fopen(relationPath, "r");
  if (file == nullptr) return false;
  char line[2 * MAX_PATH];
  bool hit = false;
  while (fgets(line, sizeof line, file) != nullptr) {
    if (strncmp(line, crcText, 8) == 0) {
      line[strcspn(line, "\n")] = '\0';
      hit = snprintf(found, size, "%s", line + 9) < static_cast<int>(size);
      break;
    }
  }
  fclose(file);
  return hit;
}

}  // namespace

int main() {
  char benchFolder[MAX_PATH];
  char romFolder[MAX_PATH];
  char dataDir[MAX_PATH];
  if (!MakeScratchFolder("launch_bench", benchFolder, sizeof benchFolder) ||
      !MakeSubfolder(benchFolder, "roms", romFolder, sizeof romFolder) ||
      !MakeSubfolder(benchFolder, "data", dataDir, sizeof dataDir)) {
    fprintf(stderr, "launch_bench: cannot make the scratch folders\n");
    return 1;
  }

  // Every line's path is padded to kPathLength bytes: a scratch folder deep
  // enough to leave no room for that is named, not taken for a failed setup.
  if (!LinePath(romFolder, kLineCount - 1, targetPath, sizeof targetPath)) {
    fprintf(stderr, "launch_bench: %s leaves no room for %d-byte ROM paths\n", romFolder, kPathLength);
    RemoveTree(benchFolder);
    return 1;
  }
  PluginAttach(GetModuleHandleA(nullptr));
  char relationPath[kPathSize];
  char crcText[16];
  snprintf(crcText, sizeof crcText, "%08lX", LineCrc(kLineCount - 1));
  // Only the looked-up line's file has to exist: the lookup checks it before launching.
  bool ready = initPlugin(0, CountLaunch, 0, IgnoreRegister, 0, dataDir) == 0 &&
               CopyText(gState.datasetName, sizeof gState.datasetName, "bench") &&
               DatasetFilePath(relationPath, sizeof relationPath, ".rel") &&
               WriteRelationFile(relationPath, romFolder) && WriteBytes(targetPath, "rom", 3);
  if (!ready) {
    fprintf(stderr, "launch_bench: cannot set up the plug-in and its relation file\n");
    RemoveTree(benchFolder);
    return 1;
  }
  WIN32_FILE_ATTRIBUTE_DATA relationData = {};
  GetFileAttributesExA(relationPath, GetFileExInfoStandard, &relationData);

  double bestLaunch = 1e30, bestReference = 1e30;
  int wrongResults = 0, referenceMisses = 0;
  for (int run = 0; run < kRuns; ++run) {
    double start = Now();
    for (int i = 0; i < kLookupsPerRun; ++i) {
      if (LaunchByCrc(crcText) != kLaunchResult) ++wrongResults;
    }
    double launch = Now() - start;
    if (launch < bestLaunch) bestLaunch = launch;

    start = Now();
    for (int i = 0; i < kLookupsPerRun; ++i) {
      char found[MAX_PATH];
      if (!ReferenceLookup(relationPath, crcText, found, sizeof found) || strcmp(found, targetPath) != 0) {
        ++referenceMisses;
      }
    }
    double reference = Now() - start;
    if (reference < bestReference) bestReference = reference;
  }
  RemoveTree(benchFolder);

  double launchRate = kLookupsPerRun / bestLaunch;
  double referenceRate = kLookupsPerRun / bestReference;
  printf("Launch lookup of the last of %d lines (%lu bytes), best of %d runs of %d lookups\n", kLineCount,
         static_cast<unsigned long>(relationData.nFileSizeLow), kRuns, kLookupsPerRun);
  printf("  LaunchByCrc                      %9.1f lookups/s %8.2f ms each\n", launchRate,
         bestLaunch / kLookupsPerRun * 1e3);
  printf("  reference (fgets + strncmp)      %9.1f lookups/s %8.2f ms each\n", referenceRate,
         bestReference / kLookupsPerRun * 1e3);
  printf("  ratio LaunchByCrc/reference  %.3f (throughput)", launchRate / referenceRate);
  EndRowWithoutGoal("shown for scale; a lookup also checks the file and hands it to the host, which a plain loop does not");
  int expectedCalls = kRuns * kLookupsPerRun;
  printf("  LaunchByCrc: %d/%d launches of the right path, %d/%d right results; reference found it %d/%d\n",
         launchCalls - wrongLaunches, expectedCalls, expectedCalls - wrongResults, expectedCalls,
         expectedCalls - referenceMisses, expectedCalls);
  return GoalsExitCode(launchCalls == expectedCalls && wrongLaunches == 0 && wrongResults == 0 && referenceMisses == 0);
}
