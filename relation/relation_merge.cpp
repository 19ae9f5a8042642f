// The merge of a run's lines with the earlier relation file: which earlier
// lines are kept, looked at a few per slice, or all at once without looking
// when the window is gone.
#include "relation/relation_merge.h"

#include <fcntl.h>
#include <io.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>

#include "base/file_identity.h"
#include "base/file_io.h"

// Earlier lines kept are written once this many bytes are waiting: one
// WriteFile per line would cost a long merge most of its time.
static constexpr size_t kCarriedFlushBytes = 64 * 1024;

static int CompareSources(const void* a, const void* b) {
  return CompareFoldedPaths(*static_cast<const char* const*>(a), *static_cast<const char* const*>(b));
}

static int CompareKeys(const void* a, const void* b) {
  return strcmp(*static_cast<const char* const*>(a), *static_cast<const char* const*>(b));
}

// The source a key was made from: it follows the key in the buffer.
static const char* SourceOfKey(const char* key) { return key + strlen(key) + 1; }

static bool FailMerge(RelationFile* relation, const char* call) {
  ReportSystemError(call, relation->path, GetLastError());
  relation->failed = true;
  return false;
}

// The previous file for reading; nullptr when there is none, or (*held set)
// while another program holds it, or (relation->unmerged set) once held past
// the retries, or (relation->failed set) when it exists but cannot be read:
// merging that as empty would lose every earlier line.
static FILE* OpenPrevious(RelationFile* relation, bool* held) {
  *held = false;
  HANDLE file = CreateFileA(relation->path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                            nullptr, OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
  if (file == INVALID_HANDLE_VALUE) {
    DWORD error = GetLastError();
    if (error == ERROR_FILE_NOT_FOUND) return nullptr;
    *held = CountTry(&relation->retry, error) == kTryLater;
    // Held past the retries: the lines wait unmerged (see RelationFile).
    if (!*held && IsHeldError(error)) {
      relation->unmerged = true;
    } else if (!*held) {
      FailMerge(relation, "CreateFileA");
    }
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

// What a sort compares, made once for each string: made anew for each of its
// many comparisons (a folded path, a last component), it cost a merge over ten
// thousand files a tenth of a second in which the dialog stood still.
enum SortBy { kByFoldedPath, kByKey, kByName };

struct SortItem {
  const char* compared;
  const char* string;
};

// count NUL-ended strings from bytes (every second one when pairs), in the
// order by gives; nullptr (the merge failed) when memory runs out.
static const char** SortStrings(RelationFile* relation, const char* bytes, size_t used, size_t count, bool pairs,
                                SortBy by) {
  const char** sorted = static_cast<const char**>(malloc(count * sizeof *sorted));
  SortItem* items = static_cast<SortItem*>(malloc(count * sizeof *items));
  // A folded path is never longer than the path.
  char* folded = by == kByFoldedPath ? static_cast<char*>(malloc(used)) : nullptr;
  if (sorted == nullptr || items == nullptr || (by == kByFoldedPath && folded == nullptr)) {
    free(sorted);
    free(items);
    free(folded);
    FailMerge(relation, "malloc");
    return nullptr;
  }
  char* fold = folded;
  for (size_t i = 0; i < count; ++i) {
    size_t length = strlen(bytes);
    items[i].string = bytes;
    items[i].compared = by == kByName ? LastComponent(bytes) : bytes;
    if (by == kByFoldedPath) {
      FoldPathForCompare(fold, length + 1, bytes);
      items[i].compared = fold;
      fold += strlen(fold) + 1;
    }
    bytes += length + 1;
    if (pairs) bytes += strlen(bytes) + 1;
  }
  std::sort(items, items + count,
            [](const SortItem& a, const SortItem& b) { return strcmp(a.compared, b.compared) < 0; });
  for (size_t i = 0; i < count; ++i) sorted[i] = items[i].string;
  free(items);
  free(folded);
  return sorted;
}

bool BeginRelationMerge(RelationFile* relation) {
  bool held = false;
  relation->previous = OpenPrevious(relation, &held);
  if (held || relation->failed) return false;
  relation->stage = kMergeCarrying;
  relation->retry = HoldRetry();
  if (relation->previous == nullptr || relation->sourceCount == 0) return true;
  relation->sortedSources = SortStrings(relation, relation->sources.bytes, relation->sources.used,
                                        relation->sourceCount, false, kByFoldedPath);
  if (relation->sortedSources == nullptr) return false;
  if (relation->keyCount > 0) {
    const GrowableBuffer& keys = relation->keys;
    relation->sortedKeys = SortStrings(relation, keys.bytes, keys.used, relation->keyCount, true, kByKey);
    relation->sortedNames = SortStrings(relation, keys.bytes, keys.used, relation->keyCount, true, kByName);
    if (relation->sortedKeys == nullptr || relation->sortedNames == nullptr) return false;
  }
  return true;
}

static bool WriteCarried(RelationFile* relation) {
  bool written = relation->carried.used == 0 ||
                 WriteChecked(relation->aside, relation->carried.bytes, relation->carried.used, kWriteRelation);
  relation->carried.used = 0;
  return written;
}

// Files of this run that share an earlier file's name and are opened to
// compare identities, at most, for one earlier line.
static constexpr size_t kSameNamedOpens = 8;

// Whether one of this run's files of the same name (folded) is the file at
// source, which is there: a link, a junction or a subst drive spells its
// folder otherwise. Asked only of those, as each identity costs an open; a
// name this run wrote in many folders (rom001.nes in every set) is left to its
// spelling, since opening each of them would stop the dialog for a line, and
// the worst that comes of it is a second line for the same file.
static bool IsSameFileAsOneWritten(const RelationFile* relation, const char* key, const char* source) {
  const char* const* sorted = relation->sortedNames;
  size_t low = 0, high = relation->keyCount;
  while (low < high) {
    size_t middle = low + (high - low) / 2;
    if (strcmp(LastComponent(sorted[middle]), LastComponent(key)) < 0) {
      low = middle + 1;
    } else {
      high = middle;
    }
  }
  size_t end = low;
  while (end < relation->keyCount && end - low <= kSameNamedOpens &&
         strcmp(LastComponent(sorted[end]), LastComponent(key)) == 0) {
    ++end;
  }
  if (end - low > kSameNamedOpens) return false;
  FileIdentity identity = {};
  bool identified = false;
  for (size_t i = low; i < end; ++i) {
    if (!identified && !GetIndexedIdentity(source, &identity)) return false;
    identified = true;
    FileIdentity written = {};
    if (GetIndexedIdentity(SourceOfKey(sorted[i]), &written) && SameIdentity(identity, written)) return true;
  }
  return false;
}

// Whether this run wrote a line for the file at source. Looking, by the one
// rule of the same path: the resolved spelling, then the identity of a file
// that is there; an earlier line whose file is known to be gone also counts,
// as nothing is left to launch. Not looking, by the folded spelling alone.
static bool IsReplacedOrGone(RelationFile* relation, const char* source, bool look) {
  if (!look) {
    const char* key = source;
    return relation->sortedSources != nullptr && bsearch(&key, relation->sortedSources, relation->sourceCount,
                                                         sizeof *relation->sortedSources, CompareSources) != nullptr;
  }
  char key[kPathSize * 2];
  const char* keyText = key;
  bool keyed = relation->sortedKeys != nullptr && MakePathKey(key, sizeof key, source);
  if (keyed && bsearch(&keyText, relation->sortedKeys, relation->keyCount, sizeof *relation->sortedKeys, CompareKeys) !=
                   nullptr) {
    return true;
  }
  FilePresence presence = ProbeFile(source, &relation->volumes);
  if (presence == kFileGone) return true;
  return presence == kFilePresent && keyed && IsSameFileAsOneWritten(relation, key, source);
}

// An earlier line is kept, with its own line break, unless this run wrote its
// file or (looking) it is known to be gone; a last line without a line break
// gets one, so nothing can run into it later.
static bool CarryOverLine(RelationFile* relation, char* line, bool look) {
  size_t length = strlen(line);
  bool ended = length > 0 && line[length - 1] == '\n';
  char source[kRelationLineSize] = "";
  if (length > kCrcTextLength + 1) CopyText(source, sizeof source, line + kCrcTextLength + 1);
  size_t sourceLength = strlen(source);
  while (sourceLength > 0 && (source[sourceLength - 1] == '\n' || source[sourceLength - 1] == '\r')) {
    source[--sourceLength] = '\0';
  }
  if (source[0] == '\0' || IsReplacedOrGone(relation, source, look)) return true;
  if (!AppendBytes(&relation->carried, line, length) || (!ended && !AppendBytes(&relation->carried, "\r\n", 2))) {
    // Out of memory: written as it is.
    return WriteCarried(relation) && WriteChecked(relation->aside, line, length, kWriteRelation) &&
           (ended || WriteChecked(relation->aside, "\r\n", 2, kWriteRelation));
  }
  return relation->carried.used < kCarriedFlushBytes || WriteCarried(relation);
}

// Up to maxLines earlier lines (all of them when maxLines is negative). True
// once the earlier file is through, false while lines remain or on failure.
static bool CarryLines(RelationFile* relation, int maxLines, bool look) {
  char line[kRelationLineSize];
  bool overlong = false;
  for (int done = 0; maxLines < 0 || done < maxLines; ++done) {
    if (!ReadRelationLine(relation->previous, line, sizeof line, &overlong)) {
      bool readFailed = ferror(relation->previous) != 0;
      fclose(relation->previous);
      relation->previous = nullptr;
      if (readFailed) return FailMerge(relation, "ReadFile");
      if (!WriteCarried(relation)) return FailMerge(relation, "WriteFile");
      relation->stage = kMergeComplete;
      return true;
    }
    if (!overlong && !CarryOverLine(relation, line, look)) return FailMerge(relation, "WriteFile");
  }
  return false;
}

// Whether an earlier line (text, its line break included) is kept without
// looking at its file: it names a source, and not one this run wrote. The
// source is ended in place for the lookup and the byte put back.
static bool IsKeptUnlooked(RelationFile* relation, char* text, size_t length) {
  size_t end = length;
  while (end > 0 && (text[end - 1] == '\n' || text[end - 1] == '\r')) --end;
  if (end <= kCrcTextLength + 1) return false;
  char saved = text[end];
  text[end] = '\0';
  const char* source = text + kCrcTextLength + 1;
  bool kept = source[0] != '\0' && !IsReplacedOrGone(relation, source, false);
  text[end] = saved;
  return kept;
}

// Kept lines as they stand, after what waits to be written.
static bool CarryBytes(RelationFile* relation, const char* bytes, size_t count) {
  if (count == 0) return true;
  if (relation->carried.used + count < kCarriedFlushBytes && AppendBytes(&relation->carried, bytes, count)) {
    return true;
  }
  return WriteCarried(relation) && WriteChecked(relation->aside, bytes, count, kWriteRelation);
}

// Read in large blocks rather than line by line, and the lines kept written
// as the runs of them stand in the block: the host waits on this. Lines too
// long for a line buffer are passed over as ReadRelationLine's readers pass
// them over.
bool CarryRestOfEarlierLines(RelationFile* relation) {
  constexpr size_t kBlockBytes = 256 * 1024;
  char* block = static_cast<char*>(malloc(kBlockBytes + kRelationLineSize));
  if (block == nullptr) return CarryLines(relation, -1, false);
  char line[kRelationLineSize];
  size_t kept = 0;        // bytes of an unfinished line at the block's start
  bool skipping = false;  // inside an overlong line, until its end
  bool carried = true;
  for (;;) {
    size_t got = fread(block + kept, 1, kBlockBytes, relation->previous);
    size_t end = kept + got;
    size_t start = 0;
    size_t span = 0;  // where the lines kept since the last one dropped begin
    for (const char* newline;
         carried && (newline = static_cast<const char*>(memchr(block + start, '\n', end - start)));) {
      size_t length = static_cast<size_t>(newline + 1 - (block + start));
      if (skipping || length >= sizeof line || !IsKeptUnlooked(relation, block + start, length)) {
        carried = CarryBytes(relation, block + span, start - span);
        span = start + length;
      }
      skipping = false;
      start += length;
    }
    if (carried) carried = CarryBytes(relation, block + span, start - span);
    kept = end - start;
    if (!carried || got == 0) break;
    memmove(block, block + start, kept);
    if (kept >= sizeof line - 1) {
      skipping = true;
      kept = 0;
    }
  }
  // A last line without a line break.
  if (carried && kept > 0 && !skipping && kept < sizeof line) {
    memcpy(line, block, kept);
    line[kept] = '\0';
    carried = CarryOverLine(relation, line, false);
  }
  free(block);
  bool readFailed = ferror(relation->previous) != 0;
  fclose(relation->previous);
  relation->previous = nullptr;
  if (readFailed) return FailMerge(relation, "ReadFile");
  if (!carried || !WriteCarried(relation)) return FailMerge(relation, "WriteFile");
  relation->stage = kMergeComplete;
  return true;
}

bool StepRelationMerge(RelationFile* relation, int maxLines) {
  if (relation->failed || relation->aside == INVALID_HANDLE_VALUE) return false;
  if (relation->stage == kMergeComplete) return true;
  if (relation->stage == kMergeNotBegun) {
    if (!IsTryDue(&relation->retry)) return false;
    if (!BeginRelationMerge(relation)) return false;
  }
  if (relation->previous == nullptr) {
    relation->stage = kMergeComplete;
    return true;
  }
  return CarryLines(relation, maxLines, true);
}
