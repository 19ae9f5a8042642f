// Small helpers the benchmarks share: the clock and a scratch folder of their
// own; files and folders through the shared test support.
#pragma once
#include <windows.h>

#include <cstddef>

#include "support/files.h"

// Seconds on the performance counter since an arbitrary start.
double Now();

// Creates "<scratch>cv_<tag>_<pid>\" into folder (with its trailing "\"). The
// scratch folder is CORVANE_BENCH_SCRATCH when set (scripts/bench.sh puts a RAM
// disk there), else the temporary folder.
// False when the folder cannot be named or made.
bool MakeScratchFolder(const char* tag, char* folder, size_t size);

// Creates parent + name + "\" into folder. False when it does not fit or fails.
bool MakeSubfolder(const char* parent, const char* name, char* folder, size_t size);
