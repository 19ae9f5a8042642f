// When two paths name the same file or folder: the one rule the plug-in goes
// by. The volume serial number and file index the system reports for an open
// handle decide where both can be read (a link, a junction, a subst drive,
// another drive letter for the same place); otherwise the spelling Windows
// resolves each path to, compared as the file system compares names.
#pragma once
#include <windows.h>

#include <cstddef>

struct FileIdentity {
  DWORD volumeSerial;
  DWORD indexHigh;
  DWORD indexLow;
};

// Fills identity for the file or folder at path (links followed). False when
// the path cannot be opened or the system reports nothing about it.
bool GetFileIdentity(const char* path, FileIdentity* identity);

// The same for a file or folder open as handle (any access).
bool GetHandleIdentity(HANDLE handle, FileIdentity* identity);

// GetFileIdentity, false also where the file system reports no file index (0):
// there is then no identity to go by.
bool GetIndexedIdentity(const char* path, FileIdentity* identity);

// The file index alone (volumeSerial 0): what tells two places apart on one
// volume, asked without the volume's own question, which under Wine is a trip
// to its mount manager. Two paths whose indexes differ are different places;
// where they match, only their full identities (GetIndexedIdentity) tell.
// False where the path cannot be opened or reports no index.
bool GetFileIndex(const char* path, FileIdentity* index);
// The same for a file or folder open as handle.
bool GetHandleIndex(HANDLE handle, FileIdentity* index);

// Whether a and b have one file index, whatever their volume serials say.
bool SameIndex(const FileIdentity& a, const FileIdentity& b);

bool SameIdentity(const FileIdentity& a, const FileIdentity& b);

// Orders identities, so that a list of them can be searched.
int CompareIdentities(const FileIdentity& a, const FileIdentity& b);

// The form every spelling of a path that Windows resolves to one place shares:
// ".\", "..\", "/", doubled separators, trailing dots and blanks and a "\\?\"
// prefix resolved (GetFullPathNameA), an 8.3 alias made long where the file
// exists (GetLongPathNameA), no final "\" but a root's, and letters folded to
// upper case as the file system folds them, full-width ones too. A relative or
// drive-relative path ("roms\x.nes", "P:roms\x.nes") is never resolved against
// the current folder: its own spelling is folded. False when it does not fit.
bool MakePathKey(char* key, size_t size, const char* path);

// True when a and b name the same file or folder: by identity where both have
// one, otherwise by MakePathKey's form of each (a file that is not there yet
// is the same as another spelling of its path).
bool IsSamePath(const char* a, const char* b);
