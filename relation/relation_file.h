// The relation file: one line per registered ROM, "CRC source\r\n", eight
// upper-case hex digits, a blank and the source path. This module owns its
// format: the registration run writes it (here), merges it with the earlier
// file (relation_merge.h) and puts it in place (relation_pending.h); the
// launch reads it.
//
// A run's lines are written into "<path>.new" and only take part once the run
// ends: the merged file is flushed and, still open, named "<path>.pending",
// then moved over the relation file. A killed run's ".new" is never used, so
// the earlier file stays as it was. A pending file is always whole and holds
// the newest list: when another program holds the relation file past the
// retries it stays pending, the launch reads it instead, and the next action
// (a run's start, a launch, initPlugin) puts it in place first.
#pragma once
#include <windows.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>

#include "base/file_identity.h"
#include "base/file_presence.h"
#include "base/growable_buffer.h"
#include "base/held_files.h"
#include "base/text.h"

constexpr size_t kCrcTextLength = 8;
// The longest line registration writes: CRC text, a blank, a 259-byte source
// path, CR LF; and the NUL. A longer line names no path that could exist.
constexpr size_t kRelationLineSize = kCrcTextLength + 1 + (kPathSize - 1) + 2 + 1;

// Reads the next line of a relation file opened in binary mode, its line break
// included, into line. False at the end of the file. A line too long for the
// buffer is read to its end and reported as overlong, so that no piece of it
// passes for a line.
bool ReadRelationLine(FILE* file, char* line, size_t size, bool* overlong);

// Drops the line break ("\r\n" or "\n") a line read above ends with; a last
// line without one keeps its last character. Returns the length left.
size_t StripLineBreak(char* line);

enum MergeStage {
  kMergeNotBegun,
  kMergeCarrying,  // earlier lines are being looked at
  kMergeComplete,
};

struct RelationFile {
  HANDLE aside = INVALID_HANDLE_VALUE;  // "<path>.new" while the run writes
  char path[kPathSize] = "";            // the relation file this run replaces
  bool failed = false;                  // a write failed: the run ends and the previous file stays
  // The source paths of this run's lines, each ended by a NUL: to tell which
  // earlier lines they replace whatever their spelling, and, through their
  // offsets, the earlier file of the same contents.
  GrowableBuffer sources;
  size_t sourceCount = 0;
  size_t lastSourceOffset = 0;  // of the last line's source, or SIZE_MAX when it went unrecorded
  // The same paths as MakePathKey resolves them, each NUL-ended and followed
  // by its source: what "the same file" is decided by.
  GrowableBuffer keys;
  size_t keyCount = 0;
  // The merge with the earlier file.
  MergeStage stage = kMergeNotBegun;
  FILE* previous = nullptr;
  const char** sortedSources = nullptr;  // this run's sources, in folded order
  const char** sortedKeys = nullptr;     // and their keys, in order
  const char** sortedNames = nullptr;    // the keys again, by their last component
  GrowableBuffer carried;                // earlier lines kept, written in large pieces
  VolumeAnswers volumes;                 // of the earlier lines' paths
  HoldRetry retry;                       // of the call another program's hold refused
  bool asideClosed = false;              // written whole as the pending file, to be moved in place
  // The run's lines wait for the next action to put them in place: as the
  // pending file (another program held the relation file past the retries)
  // or unmerged (the earlier file could not be read). They launch from there.
  bool linesWait = false;
  // What CheckRelationReplaceable or OpenRelationFile last refused on: the
  // file and the error.
  char problemPath[kPathSize] = "";
  DWORD problemError = 0;
  // The earlier file stayed unreadable past the retries: the run's lines are
  // left unmerged for the next action rather than merged as if it were empty.
  bool unmerged = false;
};

// Starts the run's file aside of relation->path, which the caller names. False
// when it cannot be created.
bool OpenRelationFile(RelationFile* relation);

// Appends "CRC source\r\n" and records the source at relation->lastSourceOffset.
// False, with relation->failed set, when the line could not be written whole.
bool WriteRelationLine(RelationFile* relation, const char* crcText, const char* sourcePath);

// True when path names the file this run writes its lines into (found in a
// ROM folder that holds the data folder) under any spelling: not the user's,
// never registered.
bool IsRelationAside(const RelationFile* relation, const char* path);

// Forgets what this run wrote and the merge's state; the aside file is the caller's.
void ReleaseMergeState(RelationFile* relation);

// Drops the run's lines; the previous file stays as it was.
void DiscardRelationFile(RelationFile* relation);
