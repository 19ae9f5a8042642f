// Small helpers the benchmarks share: the clock, a scratch folder of their
// own, and the goal of each row with its verdict; files and folders through the
// shared test support.
#pragma once
#include <windows.h>

#include <cstddef>

#include "support/files.h"

// Seconds on the performance counter since an arbitrary start.
double Now();

// Creates "<scratch>cv_<tag>_<pid>\" into folder (with its trailing "\"). The
// scratch folder is CORVANE_BENCH_SCRATCH when set (scripts/bench.sh puts a
// short path there, on a RAM disk as root), else the temporary folder.
// False when the folder cannot be named or made.
bool MakeScratchFolder(const char* tag, char* folder, size_t size);

// Creates parent + name + "\" into folder. False when it does not fit or fails.
bool MakeSubfolder(const char* parent, const char* name, char* folder, size_t size);

// Ends a row with its goal and the verdict on the row's own figure, e.g.
// "  goal <= 100 ms: met"; a missed goal is counted for GoalsExitCode. The
// figure is the median of the row's rounds (a row of one round: its figure).
enum GoalBound { kAtMost, kAtLeast };
bool EndRowWithGoal(double figure, GoalBound bound, double goal, const char* unit);
// Ends a row held to no goal, saying why.
void EndRowWithoutGoal(const char* why);
// Prints how many goals were met and returns the process's exit code: 0 only
// when the benchmark measured what it set out to and met every goal.
int GoalsExitCode(bool measured);
