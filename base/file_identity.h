// What makes two paths the same file or folder whatever their spelling (a
// link, a junction, a subst drive, an 8.3 name, another drive letter for the
// same place): the volume serial number and the file index the system reports
// for an open handle.
#pragma once
#include <windows.h>

struct FileIdentity {
  DWORD volumeSerial;
  DWORD indexHigh;
  DWORD indexLow;
};

// Fills identity for the file or folder at path (links followed). False when
// the path cannot be opened or the system reports nothing about it.
bool GetFileIdentity(const char* path, FileIdentity* identity);

bool SameIdentity(const FileIdentity& a, const FileIdentity& b);

// True when both paths exist and name the same file or folder; false when they
// differ or either cannot be looked at.
bool SameFileIdentity(const char* a, const char* b);

// True when a and b name the same folder: by identity where both can be
// looked at, otherwise (one missing, or a file system without file indexes)
// by the spelling of their full paths, folded as FoldPathForCompare folds it
// and without a final "\".
bool IsSameFolder(const char* a, const char* b);

// GetFileIdentity, false also where the file system reports no file index (0):
// there is then no identity to go by.
bool GetIndexedIdentity(const char* path, FileIdentity* identity);
