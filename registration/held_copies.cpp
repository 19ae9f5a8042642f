#include "registration/held_copies.h"

#include <windows.h>

#include <cstdio>
#include <cstring>

#include "base/own_files.h"
#include "base/text.h"
#include "base/texts.h"
#include "relation/relation_file.h"

struct HeldCopy {
  char path[kPathSize];
  HoldRetry retry;
  bool outOfTries;
};

static HeldCopy* Entries(HeldCopies* held) { return reinterpret_cast<HeldCopy*>(held->entries.bytes); }

void DeleteOrKeepForLater(HeldCopies* held, const char* path) {
  HeldCopy copy = {};
  if (path[0] == '\0' || !CopyText(copy.path, sizeof copy.path, path)) return;
  TryResult deleted = TryDeleteOwnFile(copy.path, &copy.retry);
  if (deleted == kTryDone) {
    ForgetOwnFile(copy.path);
    return;
  }
  RecordOwnFile(copy.path);
  copy.outOfTries = deleted == kTryFailed;
  // Out of memory the file stays unnamed; the run still ends.
  if (AppendBytes(&held->entries, &copy, sizeof copy)) ++held->count;
}

// Drops the entry at index, keeping the order of the rest unimportant.
static void Forget(HeldCopies* held, size_t index) {
  HeldCopy* entries = Entries(held);
  entries[index] = entries[--held->count];
  held->entries.used -= sizeof(HeldCopy);
}

bool RetryHeldCopies(HeldCopies* held) {
  bool waiting = false;
  for (size_t i = held->count; i-- > 0;) {
    HeldCopy* copy = &Entries(held)[i];
    if (copy->outOfTries) continue;
    TryResult deleted = TryDeleteOwnFile(copy->path, &copy->retry);
    if (deleted == kTryDone) {
      ForgetOwnFile(copy->path);
      Forget(held, i);
    } else if (deleted == kTryFailed) {
      copy->outOfTries = true;
    } else {
      waiting = true;
    }
  }
  return waiting;
}

void WaitForHeldCopies(HeldCopies* held) {
  while (RetryHeldCopies(held)) {
    HoldRetry soonest = {};
    for (size_t i = 0; i < held->count; ++i) {
      const HeldCopy& copy = Entries(held)[i];
      bool sooner = soonest.tries == 0 || static_cast<LONG>(copy.retry.nextTry - soonest.nextTry) < 0;
      if (!copy.outOfTries && sooner) soonest = copy.retry;
    }
    if (soonest.tries > 0) SleepUntilDue(&soonest);
  }
}

void EndHeldCopies(HeldCopies* held, void (*note)(void* context, const char* path), void* context) {
  for (size_t i = 0; i < held->count; ++i) {
    HeldCopy* copy = &Entries(held)[i];
    HoldRetry lastTry = {};
    if (TryDeleteOwnFile(copy->path, &lastTry) == kTryDone) {
      ForgetOwnFile(copy->path);
    } else {
      note(context, copy->path);
    }
  }
  ReleaseBuffer(&held->entries);
  held->count = 0;
  CloseOwnRecord();
}

void DeleteCopiesLeftByLastRun(const char* logPath, const char* tempDir) {
  RemoveLeftoversOfEarlierActions(GetActiveWindow());
  if (logPath[0] == '\0') return;
  FILE* log = fopen(logPath, "rb");
  if (log == nullptr) return;
  size_t reasonLength = strlen(kTextWarnTempNotDeleted);
  size_t tempLength = strlen(tempDir);
  char line[kRelationLineSize + 64];
  bool overlong = false;
  while (ReadRelationLine(log, line, sizeof line, &overlong)) {
    StripLineBreak(line);
    if (overlong || strncmp(line, kTextWarnTempNotDeleted, reasonLength) != 0 || line[reasonLength] != '\t') continue;
    const char* path = line + reasonLength + 1;
    // Only a name straight inside the temp folder: a log edited by hand
    // must not make the run delete anything of the user's.
    if (strlen(path) <= tempLength ||
        CompareStringA(LOCALE_INVARIANT, NORM_IGNORECASE, path, static_cast<int>(tempLength), tempDir,
                       static_cast<int>(tempLength)) != CSTR_EQUAL) {
      continue;
    }
    const char* name = path + tempLength;
    if (LastComponent(name) != name || strstr(name, "..") != nullptr) continue;
    HoldRetry retry = {};
    TryDeleteOwnFile(path, &retry);
  }
  fclose(log);
}
