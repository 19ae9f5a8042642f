#include "registration/relation_file.h"

#include <fcntl.h>
#include <io.h>

#include <cstdlib>
#include <cstring>

#include "base/file_identity.h"
#include "base/file_io.h"

bool ReadRelationLine(FILE* file, char* line, size_t size, bool* overlong) {
  *overlong = false;
  if (fgets(line, static_cast<int>(size), file) == nullptr) return false;
  size_t length = strlen(line);
  if (length + 1 < size || line[length - 1] == '\n') return true;
  // The buffer is full and holds no newline: unless the file ends here, the
  // line goes on and is passed over to its end.
  int c = getc(file);
  if (c == EOF) return true;
  *overlong = true;
  while (c != EOF && c != '\n') c = getc(file);
  return true;
}

size_t StripLineBreak(char* line) {
  size_t length = strlen(line);
  if (length > 0 && line[length - 1] == '\n') {
    line[--length] = '\0';
    if (length > 0 && line[length - 1] == '\r') line[--length] = '\0';
  }
  return length;
}

// Forgets what this run wrote and the merge's state; the aside file is the caller's.
static void ForgetSources(RelationFile* relation) {
  ReleaseBuffer(&relation->sources);
  relation->sourceCount = 0;
  free(relation->sortedSources);
  relation->sortedSources = nullptr;
  if (relation->previous != nullptr) fclose(relation->previous);
  relation->previous = nullptr;
  relation->stage = kMergeNotBegun;
  relation->retry = HoldRetry();
}

static int CompareSources(const void* a, const void* b) {
  return CompareFoldedPaths(*static_cast<const char* const*>(a), *static_cast<const char* const*>(b));
}

// The file is only replaced when the run ends; find out now whether it can be
// (not a folder, not read-only, not held open without delete sharing by a
// viewer or backup tool), before anything is registered.
TryResult CheckRelationReplaceable(RelationFile* relation) {
  if (relation->path[0] == '\0') return kTryFailed;
  TryResult checked = TryCheckReplaceable(relation->path, &relation->retry);
  if (checked == kTryFailed) ReportSystemError("CreateFileA", relation->path, GetLastError());
  if (checked != kTryLater) relation->retry = HoldRetry();
  return checked;
}

bool OpenRelationFile(RelationFile* relation) {
  DiscardRelationFile(relation);
  relation->failed = false;
  if (relation->path[0] == '\0') return false;
  // CREATE_ALWAYS also clears an aside file that a killed run left behind.
  relation->aside = CreateAsideFile(relation->path);
  if (relation->aside == INVALID_HANDLE_VALUE) {
    ReportSystemError("CreateFileA", relation->path, GetLastError());
    return false;
  }
  return true;
}

bool WriteRelationLine(RelationFile* relation, const char* crcText, const char* sourcePath) {
  if (relation->aside == INVALID_HANDLE_VALUE || relation->failed) return false;
  char line[2 * kPathSize];
  if (!FormatText(line, sizeof line, "%s %s\r\n", crcText, sourcePath) ||
      !WriteChecked(relation->aside, line, strlen(line), kWriteRelation)) {
    ReportSystemError("WriteFile", relation->path, GetLastError());
    relation->failed = true;
    return false;
  }
  // Out of memory a source goes unrecorded: its earlier line may then follow
  // the new one, and the lookup takes the first.
  relation->lastSourceOffset = relation->sources.used;
  if (AppendBytes(&relation->sources, sourcePath, strlen(sourcePath) + 1)) {
    ++relation->sourceCount;
  } else {
    relation->lastSourceOffset = SIZE_MAX;
  }
  return true;
}

bool IsRelationAside(const RelationFile* relation, const char* path) {
  char aside[kPathSize];
  return relation->aside != INVALID_HANDLE_VALUE && AsidePath(aside, sizeof aside, relation->path) &&
         SameFileIdentity(aside, path);
}

static bool FailMerge(RelationFile* relation, const char* call) {
  ReportSystemError(call, relation->path, GetLastError());
  relation->failed = true;
  return false;
}

// The previous file for reading; nullptr when there is none, or (*held set)
// while another program holds it, or (relation->failed set) when it exists
// but cannot be read: merging that as empty would lose every earlier line.
static FILE* OpenPrevious(RelationFile* relation, bool* held) {
  *held = false;
  HANDLE file = CreateFileA(relation->path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                            nullptr, OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
  if (file == INVALID_HANDLE_VALUE) {
    DWORD error = GetLastError();
    if (error == ERROR_FILE_NOT_FOUND) return nullptr;
    *held = CountTry(&relation->retry, error) == kTryLater;
    if (!*held) FailMerge(relation, "CreateFileA");
    return nullptr;
  }
  int descriptor = _open_osfhandle(reinterpret_cast<intptr_t>(file), _O_RDONLY | _O_BINARY);
  FILE* stream = descriptor != -1 ? _fdopen(descriptor, "rb") : nullptr;
  if (stream == nullptr) {
    if (descriptor != -1) {
      _close(descriptor);
    } else {
      CloseHandle(file);
    }
    FailMerge(relation, "_fdopen");
  }
  return stream;
}

// Opens the previous file and sorts this run's sources, to be looked up once
// per earlier line. False while the file is held or when the merge failed.
static bool BeginMerge(RelationFile* relation) {
  bool held = false;
  relation->previous = OpenPrevious(relation, &held);
  if (held || relation->failed) return false;
  relation->stage = kMergeCarrying;
  relation->retry = HoldRetry();
  if (relation->previous == nullptr || relation->sourceCount == 0) return true;
  relation->sortedSources = static_cast<const char**>(malloc(relation->sourceCount * sizeof *relation->sortedSources));
  if (relation->sortedSources == nullptr) return FailMerge(relation, "malloc");
  const char* source = relation->sources.bytes;
  for (size_t i = 0; i < relation->sourceCount; source += strlen(source) + 1) relation->sortedSources[i++] = source;
  qsort(relation->sortedSources, relation->sourceCount, sizeof *relation->sortedSources, CompareSources);
  return true;
}

// An earlier line is kept, with its own line break, when this run did not
// write its source under any spelling and its file is not known to be gone; a
// last line without a line break gets one, so nothing can run into it later.
static bool CarryOverLine(RelationFile* relation, char* line) {
  size_t length = strlen(line);
  bool ended = length > 0 && line[length - 1] == '\n';
  char source[kRelationLineSize] = "";
  if (length > kCrcTextLength + 1) CopyText(source, sizeof source, line + kCrcTextLength + 1);
  size_t sourceLength = strlen(source);
  while (sourceLength > 0 && (source[sourceLength - 1] == '\n' || source[sourceLength - 1] == '\r')) {
    source[--sourceLength] = '\0';
  }
  const char* key = source;
  if (relation->sortedSources != nullptr && bsearch(&key, relation->sortedSources, relation->sourceCount,
                                                    sizeof *relation->sortedSources, CompareSources) != nullptr) {
    return true;
  }
  if (source[0] == '\0' || IsKnownGone(source, &relation->lastVolume)) return true;
  return WriteChecked(relation->aside, line, length, kWriteRelation) &&
         (ended || WriteChecked(relation->aside, "\r\n", 2, kWriteRelation));
}

bool StepRelationMerge(RelationFile* relation, int maxLines) {
  if (relation->failed || relation->aside == INVALID_HANDLE_VALUE) return false;
  if (relation->stage == kMergeComplete) return true;
  if (relation->stage == kMergeNotBegun) {
    if (!IsTryDue(&relation->retry)) return false;
    if (!BeginMerge(relation)) return false;
  }
  if (relation->previous == nullptr) {
    relation->stage = kMergeComplete;
    return true;
  }
  char line[kRelationLineSize];
  bool overlong = false;
  for (int done = 0; done < maxLines; ++done) {
    if (!ReadRelationLine(relation->previous, line, sizeof line, &overlong)) {
      bool readFailed = ferror(relation->previous) != 0;
      fclose(relation->previous);
      relation->previous = nullptr;
      if (readFailed) return FailMerge(relation, "ReadFile");
      relation->stage = kMergeComplete;
      return true;
    }
    if (!overlong && !CarryOverLine(relation, line)) return FailMerge(relation, "WriteFile");
  }
  return false;
}

TryResult StepRelationCommit(RelationFile* relation) {
  if (!relation->asideClosed) {
    if (relation->failed || relation->aside == INVALID_HANDLE_VALUE || relation->stage != kMergeComplete) {
      return kTryFailed;
    }
    HANDLE aside = relation->aside;
    relation->aside = INVALID_HANDLE_VALUE;
    ForgetSources(relation);
    if (!CloseAsideFile(aside, relation->path)) {
      relation->failed = true;
      return kTryFailed;
    }
    relation->asideClosed = true;
  }
  TryResult moved = TryPutAsideInPlace(relation->path, &relation->retry);
  if (moved == kTryLater) return moved;
  relation->asideClosed = false;
  relation->retry = HoldRetry();
  if (moved == kTryFailed) relation->failed = true;
  return moved;
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

void DiscardRelationFile(RelationFile* relation) {
  if (relation->aside != INVALID_HANDLE_VALUE || relation->asideClosed) {
    DiscardAsideFile(relation->aside, relation->path);
  }
  relation->aside = INVALID_HANDLE_VALUE;
  relation->asideClosed = false;
  ForgetSources(relation);
}
