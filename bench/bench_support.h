// Small helpers the benchmarks share: the clock and a scratch folder of their own.
#pragma once
#include <windows.h>

#include <cstddef>

// Seconds on the performance counter since an arbitrary start.
double Now();

// Creates "<temp>cv_<tag>_<pid>\" into folder (with its trailing "\").
// False when the folder cannot be named or made.
bool MakeScratchFolder(const char* tag, char* folder, size_t size);

// Creates parent + name + "\" into folder. False when it does not fit or fails.
bool MakeSubfolder(const char* parent, const char* name, char* folder, size_t size);

// Writes the bytes as the whole file. False when it could not.
bool WriteWhole(const char* path, const void* bytes, DWORD size);

// Deletes the folder (with or without its trailing "\") and all below it.
void RemoveTree(const char* folder);
