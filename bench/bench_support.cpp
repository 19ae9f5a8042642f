#include "bench/bench_support.h"

#include <cstdio>

#include "base/text.h"

namespace {

int goalsHeld;
int goalsMissed;

}  // namespace

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

bool EndRowWithGoal(double figure, GoalBound bound, double goal, const char* unit) {
  bool met = bound == kAtMost ? figure <= goal : figure >= goal;
  ++goalsHeld;
  if (!met) ++goalsMissed;
  printf("  goal %s %g%s%s: %s\n", bound == kAtMost ? "<=" : ">=", goal, unit[0] != '\0' ? " " : "", unit,
         met ? "met" : "NOT MET");
  fflush(stdout);
  return met;
}

void EndRowWithoutGoal(const char* why) {
  printf("  no goal: %s\n", why);
  fflush(stdout);
}

int GoalsExitCode(bool measured) {
  if (!measured) {
    printf("goals: not judged, the measurement failed\n");
  } else if (goalsHeld == 0) {
    printf("goals: none held here (each row says why)\n");
  } else if (goalsMissed == 0) {
    printf("goals: all %d met\n", goalsHeld);
  } else {
    printf("goals: %d of %d NOT met\n", goalsMissed, goalsHeld);
  }
  fflush(stdout);
  return measured && goalsMissed == 0 ? 0 : 1;
}
