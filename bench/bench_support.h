// Small helpers the benchmarks share: the clock and a scratch folder of their
// own; files and folders through the shared test support.
#pragma once
#include <windows.h>

#include <cstddef>

#include "support/files.h"

// Seconds on the performance counter since an arbitrary start.
double Now();

// Creates "<temp>cv_<tag>_<pid>\" into folder (with its trailing "\").
// False when the folder cannot be named or made.
bool MakeScratchFolder(const char* tag, char* folder, size_t size);

// Creates parent + name + "\" into folder. False when it does not fit or fails.
bool MakeSubfolder(const char* parent, const char* name, char* folder, size_t size);
