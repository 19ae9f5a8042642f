// The relation file: one line per registered ROM, "CRC source\r\n", eight
// upper-case hex digits, a blank and the source path. This module owns its
// format: the registration run writes it, merges it with the earlier file and
// puts it in place; the launch reads it.
//
// A run's lines are written into a file aside and only put in place when the
// run ends, so a run that is killed, or fails to write, leaves the earlier
// file as it was; the host then keeps ROMs that only the earlier lines name,
// and the ones this run registered have none until the next run.
#pragma once
#include <windows.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>

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
  // The merge with the earlier file.
  MergeStage stage = kMergeNotBegun;
  FILE* previous = nullptr;
  const char** sortedSources = nullptr;  // this run's sources, in folded order
  VolumeAnswer lastVolume;               // of the earlier line looked at last
  HoldRetry retry;                       // of the call another program's hold refused
  bool asideClosed = false;              // written whole and closed, waiting to be moved in place
};

// Whether the relation file can be replaced when the run ends: it is opened
// for what the final move needs, retried while another program holds it.
// kTryDone when it can be (or there is none yet).
TryResult CheckRelationReplaceable(RelationFile* relation);

// Starts the run's file aside of relation->path, which the caller names. False
// when it cannot be created.
bool OpenRelationFile(RelationFile* relation);

// Appends "CRC source\r\n" and records the source at relation->lastSourceOffset.
// False, with relation->failed set, when the line could not be written whole.
bool WriteRelationLine(RelationFile* relation, const char* crcText, const char* sourcePath);

// Carries over up to about maxLines of the previous file's lines whose source
// this run did not write (under any spelling) and whose file is not known to
// be gone. True once every earlier line was looked at; false while lines
// remain, while another program holds the previous file, or when the merge
// failed (relation->failed set), as it does when the previous file exists but
// cannot be read.
bool StepRelationMerge(RelationFile* relation, int maxLines);

// Puts the merged file in place, one try when due: kTryLater while another
// program holds either file. On kTryFailed the previous file is untouched.
TryResult StepRelationCommit(RelationFile* relation);

// Completes the merge and the move into place, waiting out holds. False (the
// previous file untouched) when any of it failed.
bool CommitRelationFile(RelationFile* relation);

// True when path names the file this run writes its lines into (found in a
// ROM folder that holds the data folder): not the user's, never registered.
bool IsRelationAside(const RelationFile* relation, const char* path);

// Drops the run's lines; the previous file stays as it was.
void DiscardRelationFile(RelationFile* relation);
