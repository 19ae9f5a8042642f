// The relation file of a registration run. Its lines are written into a file
// aside and only put in place when the run ends, so a run that is cancelled,
// killed or fails to write never costs a line the host still needs.
#pragma once
#include <windows.h>

#include <cstddef>

#include "base/text.h"

struct RelationFile {
  HANDLE aside = INVALID_HANDLE_VALUE;  // "<path>.new" while the run writes
  char path[kPathSize] = "";            // the relation file this run replaces
  bool failed = false;                  // a write failed: the run ends and the previous file stays
  // The source paths of this run's lines, each ended by a NUL (heap), to tell
  // which earlier lines they replace.
  char* sources = nullptr;
  size_t sourcesUsed = 0;
  size_t sourcesCapacity = 0;
  size_t sourceCount = 0;
};

// Starts the run's file aside. False when it cannot be created (path names the
// file either way, or is empty when the dataset has no relation file).
bool OpenRelationFile(RelationFile* relation);

// Appends "CRC source\r\n". False, with relation->failed set, when the line
// could not be written whole.
bool WriteRelationLine(RelationFile* relation, const char* crcText, const char* sourcePath);

// Adds the previous file's lines whose source this run did not write and whose
// file still exists, then puts the result in place in one step. False (the
// previous file untouched) when any of it failed.
bool CommitRelationFile(RelationFile* relation);

// True when path names the file this run writes its lines into (found in a
// ROM folder that holds the data folder): not the user's, never registered.
bool IsRelationAside(const RelationFile* relation, const char* path);

// Drops the run's lines; the previous file stays as it was.
void DiscardRelationFile(RelationFile* relation);
