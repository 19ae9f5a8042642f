// Files of the run's own in the temp folder (copies, an archive's entries)
// that another program held when they were to be deleted. They are tried
// again on later ticks, as their waits come due, and once more at the run's
// end; what is still there then is named in the log and stays in the record
// of the plug-in's files (a copy by its slot, an entry by its private
// folder's), and the next action's start takes it back. Each is deleted only
// while it is still the file that was made there.
#pragma once
#include <cstddef>

#include "base/growable_buffer.h"
#include "base/held_files.h"

struct HeldCopies {
  GrowableBuffer entries;  // HeldCopy records
  size_t count = 0;
};

// Deletes path (the copy in hand, or a file of a private folder being
// removed), or keeps it for a later try when another program holds it or it
// cannot be deleted now.
void DeleteOrKeepForLater(HeldCopies* held, const char* path);

// Tries each file whose wait has come. True while a file still waits for a
// try to come due; false once every file is deleted or out of tries.
bool RetryHeldCopies(HeldCopies* held);

// Waits, a try at a time, until every file is deleted or out of tries: for an
// end that cannot wait across ticks. It sleeps until the next try is due.
void WaitForHeldCopies(HeldCopies* held);

// One last try of each file left; calls note(path) for each one still there,
// and forgets them all (they stay recorded for the next action). Closes the
// record of the plug-in's files.
void EndHeldCopies(HeldCopies* held, void (*note)(void* context, const char* path), void* context);
