#include "registration/relation_file.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "base/file_identity.h"
#include "base/file_io.h"
#include "base/state.h"
#include "profile/profile.h"

// A line as registration writes it: CRC text, a blank, a path of up to 259
// bytes, CR LF; and the NUL. Longer lines of a hand-edited file name no path
// that could still exist.
static constexpr size_t kLineSize = 8 + 1 + (kPathSize - 1) + 2 + 1;

static void ForgetSources(RelationFile* relation) {
  free(relation->sources);
  relation->sources = nullptr;
  relation->sourcesUsed = relation->sourcesCapacity = relation->sourceCount = 0;
}

// Out of memory a source goes unrecorded: its earlier line may then follow the
// new one, and the lookup takes the first.
static void RecordSource(RelationFile* relation, const char* sourcePath) {
  size_t length = strlen(sourcePath) + 1;
  if (relation->sourcesUsed + length > relation->sourcesCapacity) {
    size_t capacity = relation->sourcesCapacity == 0 ? 16384 : relation->sourcesCapacity;
    while (capacity < relation->sourcesUsed + length) capacity *= 2;
    char* grown = static_cast<char*>(realloc(relation->sources, capacity));
    if (grown == nullptr) return;
    relation->sources = grown;
    relation->sourcesCapacity = capacity;
  }
  memcpy(relation->sources + relation->sourcesUsed, sourcePath, length);
  relation->sourcesUsed += length;
  ++relation->sourceCount;
}

static int CompareTexts(const void* a, const void* b) {
  return strcmp(*static_cast<const char* const*>(a), *static_cast<const char* const*>(b));
}

bool OpenRelationFile(RelationFile* relation) {
  relation->aside = INVALID_HANDLE_VALUE;
  relation->failed = false;
  ForgetSources(relation);
  if (!DatasetFilePath(relation->path, sizeof relation->path, ".rel")) return false;
  // The file is only replaced when the run ends; find out now whether it can
  // be (not a folder, not read-only), before anything is registered.
  if (GetFileAttributesA(relation->path) != INVALID_FILE_ATTRIBUTES) {
    HANDLE existing = CreateFileA(relation->path, GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                  OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (existing == INVALID_HANDLE_VALUE) {
      ReportSystemError("CreateFileA", relation->path, GetLastError());
      return false;
    }
    CloseHandle(existing);
  }
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
  RecordSource(relation, sourcePath);
  return true;
}

bool IsRelationAside(const RelationFile* relation, const char* path) {
  char aside[kPathSize];
  return relation->aside != INVALID_HANDLE_VALUE && AsidePath(aside, sizeof aside, relation->path) &&
         SameFileIdentity(aside, path);
}

static bool SourceStillExists(const char* sourcePath) {
  return sourcePath[0] != '\0' && GetFileAttributesA(sourcePath) != INVALID_FILE_ATTRIBUTES;
}

// Copies the previous file's lines that this run did not replace, in their
// order and with their own line breaks; a last line without one gets one, so
// nothing can run into it later.
static bool CarryOverPreviousLines(RelationFile* relation) {
  FILE* previous = fopen(relation->path, "rb");
  if (previous == nullptr) return true;  // nothing earlier to keep
  // This run's sources, sorted, to be looked up once per earlier line.
  const char** written = nullptr;
  if (relation->sourceCount > 0) {
    written = static_cast<const char**>(malloc(relation->sourceCount * sizeof *written));
    if (written == nullptr) {
      fclose(previous);
      return false;
    }
    const char* source = relation->sources;
    for (size_t i = 0; i < relation->sourceCount; source += strlen(source) + 1) written[i++] = source;
    qsort(written, relation->sourceCount, sizeof *written, CompareTexts);
  }
  bool ok = true;
  char line[kLineSize];
  while (ok && fgets(line, sizeof line, previous) != nullptr) {
    size_t length = strlen(line);
    bool ended = length > 0 && line[length - 1] == '\n';
    if (!ended && !feof(previous)) {
      // Too long to name a path that exists: passed over to its end.
      int c;
      while ((c = getc(previous)) != EOF && c != '\n') {
      }
      continue;
    }
    char source[kLineSize] = "";
    if (length > 9) CopyText(source, sizeof source, line + 9);
    size_t sourceLength = strlen(source);
    while (sourceLength > 0 && (source[sourceLength - 1] == '\n' || source[sourceLength - 1] == '\r')) {
      source[--sourceLength] = '\0';
    }
    const char* key = source;
    bool replaced = written != nullptr && bsearch(&key, written, relation->sourceCount, sizeof *written, CompareTexts);
    if (replaced || !SourceStillExists(source)) continue;
    ok = WriteChecked(relation->aside, line, length, kWriteRelation) &&
         (ended || WriteChecked(relation->aside, "\r\n", 2, kWriteRelation));
  }
  if (ferror(previous)) ok = false;
  fclose(previous);
  free(written);
  if (!ok) ReportSystemError("WriteFile", relation->path, GetLastError());
  return ok;
}

bool CommitRelationFile(RelationFile* relation) {
  if (relation->aside == INVALID_HANDLE_VALUE) return false;
  if (relation->failed || !CarryOverPreviousLines(relation)) {
    DiscardRelationFile(relation);
    relation->failed = true;
    return false;
  }
  HANDLE aside = relation->aside;
  relation->aside = INVALID_HANDLE_VALUE;
  ForgetSources(relation);
  if (!CommitAsideFile(aside, relation->path)) {
    relation->failed = true;
    return false;
  }
  return true;
}

void DiscardRelationFile(RelationFile* relation) {
  if (relation->aside != INVALID_HANDLE_VALUE) DiscardAsideFile(relation->aside, relation->path);
  relation->aside = INVALID_HANDLE_VALUE;
  ForgetSources(relation);
}
