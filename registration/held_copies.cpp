#include "registration/held_copies.h"

#include <windows.h>

#include <cstring>

#include "base/own_record.h"
#include "base/text.h"

struct HeldCopy {
  char path[kPathSize];
  FileIdentity identity;
  long long mostBytes;
  bool identified;
  HoldRetry retry;
  bool outOfTries;
};

static HeldCopy* Entries(HeldCopies* held) { return reinterpret_cast<HeldCopy*>(held->entries.bytes); }

// A later try at a held file deletes it only while it is still the one that
// was made there (by then another copy of the same name may have been made,
// or a user's file put there); once it is gone (or something else stands
// there) its slot is free.
static TryResult TryDeleteHeldCopy(HeldCopy* copy) {
  if (!copy->identified) return TryDeleteFile(copy->path, &copy->retry);
  TryResult deleted = TryDeleteProvenFile(copy->path, copy->identity, copy->mostBytes, false, &copy->retry);
  if (deleted == kTryDone) ForgetOwnSlot(copy->identity);
  return deleted;
}

void DeleteOrKeepForLater(HeldCopies* held, const char* path) {
  HeldCopy copy = {};
  if (path[0] == '\0' || !CopyText(copy.path, sizeof copy.path, path)) return;
  // A copy is known by its slot; a file of a private folder being removed is
  // the plug-in's by its folder.
  OwnSlot slot = {};
  copy.mostBytes = -1;
  copy.identified = FindOwnSlot(copy.path, &slot);
  if (copy.identified) {
    copy.identity = slot.identity;
    copy.mostBytes = slot.mostBytes;
  }
  // The first try follows the copy's close at once, the file still the one
  // this run made: a plain delete, which costs the system the least.
  TryResult deleted = TryDeleteFile(copy.path, &copy.retry);
  if (deleted == kTryDone) {
    if (copy.identified) ForgetOwnSlot(copy.identity);
    return;
  }
  // Known from now on, so that later tries prove it.
  if (!copy.identified) copy.identified = GetFileIndex(copy.path, &copy.identity);
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
    TryResult deleted = TryDeleteHeldCopy(copy);
    if (deleted == kTryDone) {
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
    copy->retry = HoldRetry();
    if (TryDeleteHeldCopy(copy) != kTryDone) note(context, copy->path);
  }
  ReleaseBuffer(&held->entries);
  held->count = 0;
  CloseOwnRecord();
}
