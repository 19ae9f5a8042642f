// The pending relation file: the merged lines, whole, named pending and moved
// over the relation file; left pending while another program holds it, and
// put in place by whoever comes next.
#include "relation/relation_pending.h"

#include <cstring>

#include "base/file_io.h"
#include "relation/relation_merge.h"

bool PendingRelationPath(char* pending, size_t size, const char* relationPath) {
  if (FormatText(pending, size, "%s.pending", relationPath)) return true;
  // Too long for the suffix: the last "." made "!" ("NES!rel"), which no file
  // of a dataset and no aside file ("NES~rel") is named.
  const char* dot = strrchr(LastComponent(relationPath), '.');
  if (dot == nullptr || !CopyText(pending, size, relationPath)) return false;
  pending[dot - relationPath] = '!';
  return true;
}

// One try, when due, of putting a pending file of path in place; kTryDone when
// there is none.
static TryResult TryPlacePending(const char* path, HoldRetry* retry) {
  char pending[kPathSize];
  if (!PendingRelationPath(pending, sizeof pending, path)) return kTryDone;
  if (GetFileAttributesA(pending) == INVALID_FILE_ATTRIBUTES) return kTryDone;
  return TryMoveIntoPlace(pending, path, retry);
}

static bool NameFinished(RelationFile* relation, bool merged);

// Merges the lines a window's end left unmerged with the relation file (an
// earlier pending list put in place first) into the pending file, once: no
// later run can have written lines before they are merged (its start merges
// them first), so they are the newest then, and the oldest ever after. Once
// pending, they go or are marked merged before anything else is written.
// kTryDone when there were none, they were merged before, or they are pending
// now; kTryLater (a held error set) while either file is held.
static TryResult MergeUnmergedLines(const char* relationPath) {
  char unmerged[kPathSize];
  if (!UnmergedRelationPath(unmerged, sizeof unmerged, relationPath)) return kTryDone;
  if (GetFileAttributesA(unmerged) == INVALID_FILE_ATTRIBUTES) {
    RemoveMergedLines(relationPath);  // a mark left without its file
    return kTryDone;
  }
  UnmergedStamp stamp;
  if (!ReadUnmergedStamp(unmerged, &stamp)) return kTryLater;
  if (IsMarkedMerged(relationPath, stamp)) {
    RemoveMergedLines(relationPath);
    return kTryDone;
  }
  HoldRetry once = {};
  TryResult placed = TryPlacePending(relationPath, &once);
  if (placed != kTryDone) return placed;
  FILE* lines = fopen(unmerged, "rb");
  if (lines == nullptr) {
    SetLastError(ERROR_SHARING_VIOLATION);
    return kTryLater;
  }
  RelationFile relation;
  CopyText(relation.path, sizeof relation.path, relationPath);
  bool written = OpenRelationFile(&relation);
  char line[kRelationLineSize];
  bool overlong = false;
  while (written && ReadRelationLine(lines, line, sizeof line, &overlong)) {
    if (overlong || StripLineBreak(line) <= kCrcTextLength + 1) continue;
    line[kCrcTextLength] = '\0';
    written = WriteRelationLine(&relation, line, line + kCrcTextLength + 1);
  }
  fclose(lines);
  if (written && !BeginRelationMerge(&relation) && !relation.failed) {
    DiscardRelationFile(&relation);
    SetLastError(ERROR_SHARING_VIOLATION);
    return kTryLater;
  }
  if (!written || relation.failed || (relation.previous != nullptr && !CarryRestOfEarlierLines(&relation)) ||
      !NameFinished(&relation, true)) {
    DiscardRelationFile(&relation);
    return kTryFailed;
  }
  // Not settled, the lines would be merged again as the newest: the pending
  // list waits all the same, and a later run's start tries again.
  return SettleMergedLines(relationPath, stamp) ? kTryDone : kTryFailed;
}

// One try, not a wait: the pending file is whole and the launch reads it
// where it is, so a hold costs the host's window nothing, and the next action
// tries again.
bool PutPendingRelationInPlace(const char* relationPath) {
  HoldRetry once = {};
  bool placed = MergeUnmergedLines(relationPath) == kTryDone && TryPlacePending(relationPath, &once) == kTryDone;
  if (!placed) ReportSystemError("MoveFileExA", relationPath, GetLastError());
  return placed;
}

bool UnmergedLinesWait(const char* relationPath) {
  char unmerged[kPathSize];
  UnmergedStamp stamp;
  return UnmergedRelationPath(unmerged, sizeof unmerged, relationPath) &&
         GetFileAttributesA(unmerged) != INVALID_FILE_ATTRIBUTES &&
         !(ReadUnmergedStamp(unmerged, &stamp) && IsMarkedMerged(relationPath, stamp));
}

void PutPendingRelationsInPlace(const char* dataDir) {
  // Both forms a pending name takes, and unmerged lines; a dataset in a
  // subfolder of the data folder has its own finished by its next run or launch.
  static const char* const kPatterns[] = {"*.rel.pending", "*.rel.unmerged", "*!rel"};
  for (const char* pattern : kPatterns) {
    char search[kPathSize];
    if (!FormatText(search, sizeof search, "%s%s", dataDir, pattern)) continue;
    size_t suffix = pattern[1] == '!' ? 0 : strlen(pattern) - strlen("*.rel");
    WIN32_FIND_DATAA found;
    HANDLE listing = FindFirstFileA(search, &found);
    if (listing == INVALID_HANDLE_VALUE) continue;
    do {
      char relationPath[kPathSize];
      size_t length = strlen(found.cFileName);
      size_t kept = length - suffix;
      if ((found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) ||
          !FormatText(relationPath, sizeof relationPath, "%s%.*s", dataDir, static_cast<int>(kept), found.cFileName)) {
        continue;
      }
      if (pattern[1] == '!') relationPath[strlen(relationPath) - 4] = '.';
      PutPendingRelationInPlace(relationPath);
    } while (FindNextFileA(listing, &found));
    FindClose(listing);
  }
}

// The file is only replaced when the run ends; find out now whether it can be
// (not a folder, not read-only, not held open without delete sharing by a
// viewer or backup tool), before anything is registered. What an earlier
// action left pending goes in place first: the merge reads the relation file.
TryResult CheckRelationReplaceable(RelationFile* relation) {
  relation->problemPath[0] = '\0';
  if (relation->path[0] == '\0') return kTryFailed;
  char waiting[kPathSize];
  const char* call = "CreateFileA";
  const char* subject = relation->path;  // the file a failure is told of
  TryResult checked = kTryDone;
  if (UnmergedRelationPath(waiting, sizeof waiting, relation->path) &&
      GetFileAttributesA(waiting) != INVALID_FILE_ATTRIBUTES) {
    if (!IsTryDue(&relation->retry)) return kTryLater;
    call = "MergeUnmergedLines";
    subject = waiting;
    checked = MergeUnmergedLines(relation->path);
    if (checked == kTryLater) checked = CountTry(&relation->retry, GetLastError());
    if (checked == kTryDone) relation->retry = HoldRetry();
  }
  if (checked == kTryDone && PendingRelationPath(waiting, sizeof waiting, relation->path) &&
      GetFileAttributesA(waiting) != INVALID_FILE_ATTRIBUTES) {
    call = "MoveFileExA";
    subject = waiting;
    checked = TryMoveIntoPlace(waiting, relation->path, &relation->retry);
    if (checked == kTryDone) relation->retry = HoldRetry();
  }
  if (checked == kTryDone) {
    call = "CreateFileA";
    subject = relation->path;
    checked = TryCheckReplaceable(relation->path, &relation->retry);
  }
  if (checked == kTryFailed) {
    relation->problemError = GetLastError();
    CopyText(relation->problemPath, sizeof relation->problemPath, subject);
    ReportSystemError(call, subject, relation->problemError);
  }
  if (checked != kTryLater) relation->retry = HoldRetry();
  return checked;
}

bool DescribeRelationProblem(const RelationFile* relation, char* text, size_t size) {
  if (relation->problemPath[0] == '\0') return false;
  char cause[256] = "";
  DWORD length = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
                                relation->problemError, 0, cause, sizeof cause, nullptr);
  while (length > 0 && (cause[length - 1] == '\r' || cause[length - 1] == '\n')) cause[--length] = '\0';
  return FormatText(text, size, "%s\n%s (%lu)", relation->problemPath, cause,
                    static_cast<unsigned long>(relation->problemError));
}

// The run's file, whole, under the pending name when merged, or else under
// the unmerged one. False (relation->failed set, the aside file gone) when it
// could not be named.
static bool NameFinished(RelationFile* relation, bool merged) {
  char name[kPathSize];
  HANDLE aside = relation->aside;
  relation->aside = INVALID_HANDLE_VALUE;
  ReleaseMergeState(relation);
  bool named = merged ? PendingRelationPath(name, sizeof name, relation->path)
                      : UnmergedRelationPath(name, sizeof name, relation->path);
  if (!named) {
    DiscardAsideFile(aside, relation->path);
    relation->failed = true;
    return false;
  }
  if (!NameFinishedAside(aside, relation->path, name)) {
    relation->failed = true;
    return false;
  }
  relation->asideClosed = merged;
  return true;
}

// What a try of the pending file's move comes to. Held past the retries, it
// stays pending and the run is done; a lasting error leaves it pending too,
// for the launch, but says the relation file was not written.
static TryResult PlacePending(RelationFile* relation, TryResult moved) {
  if (moved == kTryLater) return moved;
  DWORD error = GetLastError();
  relation->asideClosed = false;
  relation->retry = HoldRetry();
  if (moved == kTryDone) return moved;
  relation->linesWait = true;
  ReportSystemError("MoveFileExA", relation->path, error);
  if (IsHeldError(error)) return kTryDone;
  relation->failed = true;
  return kTryFailed;
}

TryResult StepRelationCommit(RelationFile* relation) {
  if (!relation->asideClosed) {
    if (relation->failed || relation->aside == INVALID_HANDLE_VALUE || relation->stage != kMergeComplete) {
      return kTryFailed;
    }
    if (relation->unmerged) {
      relation->linesWait = NameFinished(relation, false);
      return relation->linesWait ? kTryDone : kTryFailed;
    }
    if (!NameFinished(relation, true)) return kTryFailed;
  }
  return PlacePending(relation, TryPlacePending(relation->path, &relation->retry));
}

bool CommitRelationFile(RelationFile* relation) {
  if (relation->aside == INVALID_HANDLE_VALUE && !relation->asideClosed) return false;
  while (!relation->asideClosed && !relation->failed && !StepRelationMerge(relation, 1024)) {
    if (relation->stage == kMergeNotBegun) SleepUntilDue(&relation->retry);
  }
  if (relation->failed) {
    DiscardRelationFile(relation);
    return false;
  }
  for (;;) {
    TryResult moved = StepRelationCommit(relation);
    if (moved != kTryLater) return moved == kTryDone;
    SleepUntilDue(&relation->retry);
  }
}

bool FinishRelationWithoutWaiting(RelationFile* relation) {
  if (relation->aside == INVALID_HANDLE_VALUE && !relation->asideClosed) return false;
  if (!relation->asideClosed) {
    // The earlier file gets one try, however its retries stood.
    relation->retry = HoldRetry();
    bool merged = !relation->failed;
    if (merged && relation->stage == kMergeNotBegun) merged = BeginRelationMerge(relation);
    // The earlier file cannot be read now: the run's lines wait unmerged, and
    // whoever comes next merges them.
    if (relation->unmerged || (!merged && !relation->failed && relation->stage == kMergeNotBegun)) {
      relation->linesWait = NameFinished(relation, false);
      if (!relation->linesWait) DiscardRelationFile(relation);
      return relation->linesWait;
    }
    if (merged && relation->previous != nullptr) merged = CarryRestOfEarlierLines(relation);
    if (merged) relation->stage = kMergeComplete;
    if (!merged || !NameFinished(relation, true)) {
      DiscardRelationFile(relation);
      return false;
    }
  }
  relation->retry = HoldRetry();
  TryResult moved = PlacePending(relation, TryPlacePending(relation->path, &relation->retry));
  if (moved == kTryLater) {
    relation->asideClosed = false;
    relation->retry = HoldRetry();
    relation->linesWait = true;
  }
  return moved != kTryFailed;
}
