// Listing one folder's entries, the one directory-search loop of the plug-in.
#pragma once
#include <windows.h>

#include <cstddef>

struct FolderListing {
  HANDLE search = INVALID_HANDLE_VALUE;  // the folder, opened to list it; a directory search when byFind
  BYTE* buffer = nullptr;                // entries as the volume returned them, a block at a time
  const BYTE* next = nullptr;            // the next of them; nullptr once the block is through
  // The volume would not give entries with their file indexes (some network
  // and third-party file systems): listed by a directory search instead.
  bool byFind = false;
  WIN32_FIND_DATAA entry;  // the current entry, after NextListedEntry returned true
  // The current entry's file index as the listing reports it (what an open of
  // it would read, a link's own rather than its target's); 0 when unknown.
  LONGLONG entryIndex = 0;
  bool pending = false;  // entry holds the listing's first result, not yet handed out
  size_t prefixLength = 0;
};

// Starts listing prefix + "*.*"; prefix is a folder path ending with its
// separator. False when the pattern does not fit a path buffer or the folder
// cannot be listed (GetLastError() tells why; the listing is then closed).
//
// The folder is listed by its wide names, and each entry is handed out by a
// name the ANSI calls open: the long name where the code page carries it
// exactly and prefix + name (+ "\*.*" for a folder) fits a path buffer,
// otherwise the short (8.3) name the volume reports. Where there is none, the
// long name stays: a name the code page cannot carry then holds a "?", which
// no real name does.
bool OpenListing(FolderListing* listing, const char* prefix);

// Moves to the next entry other than "." and ".."; false at the end.
bool NextListedEntry(FolderListing* listing);

// Harmless on a listing that is closed or was never opened.
void CloseListing(FolderListing* listing);

inline bool IsFolderEntry(const WIN32_FIND_DATAA& entry) {
  return (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

// A link or junction to a folder: its target is not ours to walk or empty.
inline bool IsFolderLink(DWORD attributes) {
  return (attributes & FILE_ATTRIBUTE_DIRECTORY) && (attributes & FILE_ATTRIBUTE_REPARSE_POINT);
}

// A path some of whose components spell characters the ANSI code page lacks
// as "?" (as an archiver with an ANSI interface reports such an entry, and as
// a listing hands out such a name): each such component is replaced by the
// name the ANSI calls open its one entry by (the short name where the code
// page cannot carry it). A path without "?" is left as it is. False, the path
// unchanged and the last error set, when a component names no entry, more
// than one, or one without a short name.
bool SpellOpenablePath(char* path, size_t size);
