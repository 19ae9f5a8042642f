// The relation file's writer: the run's lines, written aside of the relation
// file as they come, and the line format the readers share.
#include "relation/relation_file.h"

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

bool OpenRelationFile(RelationFile* relation) {
  DiscardRelationFile(relation);
  relation->failed = false;
  relation->linesWait = false;
  relation->unmerged = false;
  if (relation->path[0] == '\0') return false;
  // CREATE_ALWAYS also clears an aside file that a killed run left behind.
  relation->aside = CreateAsideFile(relation->path);
  if (relation->aside == INVALID_HANDLE_VALUE) {
    relation->problemError = GetLastError();
    CopyText(relation->problemPath, sizeof relation->problemPath, relation->path);
    ReportSystemError("CreateFileA", relation->path, relation->problemError);
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
  // Resolved now, file by file, so that the merge never stops to resolve them
  // all; each key is followed by its source, for the identity.
  char pair[kPathSize * 3];
  size_t keyLength = 0;
  if (MakePathKey(pair, sizeof pair, sourcePath) &&
      (keyLength = strlen(pair) + 1, CopyText(pair + keyLength, sizeof pair - keyLength, sourcePath)) &&
      AppendBytes(&relation->keys, pair, keyLength + strlen(sourcePath) + 1)) {
    ++relation->keyCount;
  }
  return true;
}

bool IsRelationAside(const RelationFile* relation, const char* path) {
  char aside[kPathSize];
  return relation->aside != INVALID_HANDLE_VALUE && AsidePath(aside, sizeof aside, relation->path) &&
         IsSamePath(aside, path);
}

void ReleaseMergeState(RelationFile* relation) {
  ReleaseBuffer(&relation->sources);
  relation->sourceCount = 0;
  ReleaseBuffer(&relation->keys);
  relation->keyCount = 0;
  ReleaseBuffer(&relation->carried);
  free(relation->sortedSources);
  relation->sortedSources = nullptr;
  free(relation->sortedKeys);
  relation->sortedKeys = nullptr;
  free(relation->sortedNames);
  relation->sortedNames = nullptr;
  if (relation->previous != nullptr) fclose(relation->previous);
  relation->previous = nullptr;
  relation->stage = kMergeNotBegun;
  relation->volumes = VolumeAnswers();
  relation->retry = HoldRetry();
}

void DiscardRelationFile(RelationFile* relation) {
  // The aside file only: a pending file is whole and waits for the next action.
  if (relation->aside != INVALID_HANDLE_VALUE) DiscardAsideFile(relation->aside, relation->path);
  relation->aside = INVALID_HANDLE_VALUE;
  relation->asideClosed = false;
  ReleaseMergeState(relation);
}
