#include "registration/relation_file.h"

#include <cstdio>
#include <cstring>

#include "base/file_identity.h"
#include "base/file_io.h"
#include "base/state.h"
#include "profile/profile.h"

bool OpenRelationFile(RelationFile* relation) {
  relation->aside = INVALID_HANDLE_VALUE;
  relation->failed = false;
  relation->writtenSources.clear();
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
  // Out of memory the line is kept all the same; the earlier line of the same
  // source may then follow it, and the lookup takes the first.
  try {
    relation->writtenSources.insert(sourcePath);
  } catch (...) {
  }
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
// order. Lines are split at "\n"; each keeps its own line break. A last line
// without one gets one, so the next line never runs into it.
static bool CarryOverPreviousLines(RelationFile* relation) {
  FILE* previous = fopen(relation->path, "rb");
  if (previous == nullptr) return true;  // nothing earlier to keep
  bool ok = true;
  std::string line;
  char block[4096];
  size_t got;
  auto flushLine = [&](bool complete) {
    if (line.empty()) return;
    std::string source = line.size() > 9 ? line.substr(9) : std::string();
    while (!source.empty() && (source.back() == '\n' || source.back() == '\r')) source.pop_back();
    if (relation->writtenSources.count(source) == 0 && SourceStillExists(source.c_str())) {
      if (!complete) line += "\r\n";
      if (!WriteChecked(relation->aside, line.data(), line.size(), kWriteRelation)) ok = false;
    }
    line.clear();
  };
  while (ok && (got = fread(block, 1, sizeof block, previous)) > 0) {
    for (size_t i = 0; i < got && ok; ++i) {
      line += block[i];
      if (block[i] == '\n') flushLine(true);
    }
  }
  if (ferror(previous)) ok = false;
  if (ok) flushLine(false);
  fclose(previous);
  if (!ok) ReportSystemError("WriteFile", relation->path, GetLastError());
  return ok;
}

// Out of memory while the earlier lines are read, the run's file is not put
// in place: the earlier file stays whole, which loses nothing.
static bool CarryOverPreviousLinesSafely(RelationFile* relation) {
  try {
    return CarryOverPreviousLines(relation);
  } catch (...) {
    return false;
  }
}

bool CommitRelationFile(RelationFile* relation) {
  if (relation->aside == INVALID_HANDLE_VALUE) return false;
  if (relation->failed || !CarryOverPreviousLinesSafely(relation)) {
    DiscardRelationFile(relation);
    relation->failed = true;
    return false;
  }
  HANDLE aside = relation->aside;
  relation->aside = INVALID_HANDLE_VALUE;
  relation->writtenSources.clear();
  if (!CommitAsideFile(aside, relation->path)) {
    relation->failed = true;
    return false;
  }
  return true;
}

void DiscardRelationFile(RelationFile* relation) {
  if (relation->aside != INVALID_HANDLE_VALUE) DiscardAsideFile(relation->aside, relation->path);
  relation->aside = INVALID_HANDLE_VALUE;
  relation->writtenSources.clear();
}
