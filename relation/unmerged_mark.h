// The mark that lines a window's end left unmerged were merged. Once merged,
// they are older than every line a later run writes; merged again as the
// newest, they would bring back a CRC the file no longer has. The unmerged
// file goes once merged; where another program keeps it (an indexer), a mark
// beside it names it by its identity, and a file that does not match the
// mark counts as not merged.
#pragma once
#include <windows.h>

#include <cstddef>
#include <cstdint>

// Where a window's end leaves the run's lines when the earlier file could not
// be read: whoever comes next merges them into the pending file, and a launch
// reads them first meanwhile. False when the name cannot be made.
bool UnmergedRelationPath(char* unmerged, size_t size, const char* relationPath);

// What tells one unmerged file from another: its identity, size and last
// write, read as it stands.
struct UnmergedStamp {
  DWORD volumeSerial;
  DWORD indexHigh;
  DWORD indexLow;
  uint64_t size;
  FILETIME lastWrite;
};

// The stamp of the file at path; false when it cannot be asked.
bool ReadUnmergedStamp(const char* path, UnmergedStamp* stamp);

// Whether the mark of relationPath names the unmerged file with this stamp;
// a damaged mark names none.
bool IsMarkedMerged(const char* relationPath, const UnmergedStamp& stamp);

// After a merge: the unmerged file goes, or, while another program keeps it,
// the mark names it. False when neither could be done.
bool SettleMergedLines(const char* relationPath, const UnmergedStamp& stamp);

// A merged unmerged file is removed when it can be, and its mark with it; a
// mark without its file goes too.
void RemoveMergedLines(const char* relationPath);
