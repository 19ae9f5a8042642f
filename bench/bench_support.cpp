#include "bench/bench_support.h"

#include "base/text.h"

double Now() {
  LARGE_INTEGER frequency, counter;
  QueryPerformanceFrequency(&frequency);
  QueryPerformanceCounter(&counter);
  return static_cast<double>(counter.QuadPart) / static_cast<double>(frequency.QuadPart);
}

bool MakeScratchFolder(const char* tag, char* folder, size_t size) {
  char temp[MAX_PATH];
  DWORD length = GetEnvironmentVariableA("CORVANE_BENCH_SCRATCH", temp, sizeof temp);
  if (length == 0) length = GetTempPathA(sizeof temp, temp);
  if (length == 0 || length >= sizeof temp) return false;
  if (!EnsureTrailingBackslash(temp, sizeof temp)) return false;
  if (!FormatText(folder, size, "%scv_%s_%lu\\", temp, tag, GetCurrentProcessId())) return false;
  // A folder left by an earlier run of the same process id is cleared first.
  RemoveTree(folder);
  return CreateDirectoryA(folder, nullptr) != 0;
}

bool MakeSubfolder(const char* parent, const char* name, char* folder, size_t size) {
  return FormatText(folder, size, "%s%s\\", parent, name) && CreateDirectoryA(folder, nullptr) != 0;
}
