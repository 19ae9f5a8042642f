// The launch's reader of the relation file: a CRC text looked up in the
// newest list of a dataset's lines.
#pragma once
#include <cstddef>

// Looks crcText up in the newest list that can be opened: lines a window's
// end left unmerged, then the pending list, then the relation file. A list
// another program holds without sharing is passed over for the next, which
// is whole too, only older. The first matching line gives foundPath (empty
// when the line holds no path; the search of a list also ends at its first
// line shorter than a CRC text). Returns the status of closing the list
// that was read, 0 when none could be.
int FindRelationSource(const char* relationPath, const char* crcText, char* foundPath, size_t size);
