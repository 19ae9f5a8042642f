// The pending relation file: the run's merged lines, whole, wait under the
// pending name until they are moved over the relation file. Whoever comes
// next (a run's start, a launch, initPlugin) puts an earlier one in place.
#pragma once
#include <windows.h>

#include <cstddef>

#include "base/held_files.h"
#include "relation/relation_file.h"
#include "relation/unmerged_mark.h"

// Whether the relation file can be replaced when the run ends: a pending file
// an earlier action left is put in place first, then the relation file is
// opened for what the final move needs; either is retried while another
// program holds it. kTryDone when it can be (or there is none yet).
TryResult CheckRelationReplaceable(RelationFile* relation);

// What the last check or open refused on, for the user: the file and the
// system's text of the cause. False when it named none.
bool DescribeRelationProblem(const RelationFile* relation, char* text, size_t size);

// Names the merged file pending, then puts it in place, one try when due:
// kTryLater while another program holds the relation file. Held past the
// retries, it stays pending (relation->linesWait set) and the result is
// kTryDone: no line is lost. On kTryFailed the previous file is untouched,
// though a pending file whose move met a lasting error stays for the launch.
TryResult StepRelationCommit(RelationFile* relation);

// Completes the merge and the move into place, waiting out holds. False (the
// previous file untouched) when any of it failed.
bool CommitRelationFile(RelationFile* relation);

// For a run whose window is gone while the host waits: carries over the rest
// of the earlier lines without looking at their files (only those this run
// wrote under a spelling of the same path are dropped), names the file
// pending and makes one try of the move; whatever is not done now is left to
// the next action. An earlier file held unreadable leaves the run's lines
// unmerged (relation->linesWait set). False (the previous file untouched) when
// the lines could not be written or the earlier file could not be read.
bool FinishRelationWithoutWaiting(RelationFile* relation);

// The pending file of the relation file at relationPath. False when its name
// cannot be made.
bool PendingRelationPath(char* pending, size_t size, const char* relationPath);

// Merges lines left unmerged and puts the pending file of relationPath in
// place, with one try that never waits. True once nothing waits any more;
// false while either still waits (held, or another error), holding the
// newest lines.
bool PutPendingRelationInPlace(const char* relationPath);

// The same for every dataset's pending file in the data folder, for initPlugin.
void PutPendingRelationsInPlace(const char* dataDir);

// Whether lines a window's end left for relationPath wait to be merged: there,
// and not marked as merged already.
bool UnmergedLinesWait(const char* relationPath);
