// Extraction below an output folder: entry names become paths there (refused
// when unsafe or longer than MAX_PATH), folders are made as needed, files are
// replaced, and a file whose bytes fail their check is removed again.
#include <zlib.h>

#include <vector>

#include "archiver/archiver.h"
#include "base/text.h"

namespace {

struct ExtractRun {
  const uint8_t* data;
  uint64_t size;
  const ArchiveListing* listing;
  const char* outputFolder;
  const char* pattern;
  ExtractResult* result;
};

void NoteFailure(ExtractRun* run, int entry, Problem problem) {
  ExtractResult* result = run->result;
  if (result->failed++ == 0) {
    result->firstFailedEntry = entry;
    result->firstProblem = problem;
  }
}

// Folder output path for an entry; false (and the path empty) when the name
// is unusable or unsafe or the joined path would not fit.
bool ComposePath(const ExtractRun* run, const ArchiveEntry& entry, char* path, size_t pathSize, Problem* problem) {
  path[0] = '\0';
  if (!entry.nameUsable) {
    *problem = "entry name has no code page 932 spelling";
    return false;
  }
  if (!entry.nameSafe) {
    *problem = "entry name refused: it would leave the output folder";
    return false;
  }
  const char* format = EndsWithBackslash(run->outputFolder) ? "%s%s" : "%s\\%s";
  if (!FormatText(path, pathSize, format, run->outputFolder, entry.name.c_str())) {
    path[0] = '\0';
    *problem = "output path too long";
    return false;
  }
  return true;
}

// Makes every folder on the way to path's last component. Failures are left to
// the file or folder creation that follows, which reports them.
void MakeParentFolders(const char* path) {
  char partial[MAX_PATH];
  for (const char* p = path; *p != '\0'; p = NextCp932Char(p)) {
    if (*p != '\\' || p == path) continue;
    if (!FormatText(partial, sizeof partial, "%.*s", static_cast<int>(p - path), path)) return;
    CreateDirectoryA(partial, nullptr);
  }
}

bool MakeFolder(const char* path) {
  MakeParentFolders(path);
  if (CreateDirectoryA(path, nullptr)) return true;
  DWORD attributes = GetFileAttributesA(path);
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

// Replaces an existing file, read-only ones included, as overwrite-all asks.
HANDLE CreateOutputFile(const char* path) {
  MakeParentFolders(path);
  HANDLE file = CreateFileA(path, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE && GetLastError() == ERROR_ACCESS_DENIED) {
    DWORD attributes = GetFileAttributesA(path);
    if (attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY) &&
        (attributes & FILE_ATTRIBUTE_READONLY)) {
      SetFileAttributesA(path, FILE_ATTRIBUTE_NORMAL);
      file = CreateFileA(path, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    }
  }
  return file;
}

bool WriteToFile(void* context, const uint8_t* data, size_t size) {
  HANDLE file = *static_cast<HANDLE*>(context);
  while (size > 0) {
    DWORD chunk = size > 0x10000000 ? 0x10000000 : static_cast<DWORD>(size);
    DWORD written = 0;
    if (!WriteFile(file, data, chunk, &written, nullptr) || written != chunk) return false;
    data += chunk;
    size -= chunk;
  }
  return true;
}

enum EntryPlan { kPlanSkip, kPlanRefuse, kPlanWrite };

EntryPlan PlanEntry(ExtractRun* run, int index, char* path, size_t pathSize) {
  const ArchiveEntry& entry = run->listing->entries[static_cast<size_t>(index)];
  bool matches = entry.nameUsable ? MatchesPattern(run->pattern, entry.name.c_str()) : MatchesEverything(run->pattern);
  if (!matches) return kPlanSkip;
  Problem problem = nullptr;
  if (!ComposePath(run, entry, path, pathSize, &problem)) {
    NoteFailure(run, index, problem);
    return kPlanRefuse;
  }
  return kPlanWrite;
}

// Folders and empty files need no decoding.
void ExtractWithoutData(ExtractRun* run, int index, const char* path) {
  const ArchiveEntry& entry = run->listing->entries[static_cast<size_t>(index)];
  if (entry.isDirectory) {
    if (MakeFolder(path)) {
      ++run->result->folders;
    } else {
      NoteFailure(run, index, "cannot create the folder");
    }
    return;
  }
  HANDLE file = CreateOutputFile(path);
  if (file == INVALID_HANDLE_VALUE) {
    NoteFailure(run, index, "cannot create the output file");
    return;
  }
  CloseHandle(file);
  ++run->result->files;
}

void ExtractZip(ExtractRun* run) {
  const std::vector<ArchiveEntry>& entries = run->listing->entries;
  for (size_t i = 0; i < entries.size(); ++i) {
    int index = static_cast<int>(i);
    char path[MAX_PATH];
    if (PlanEntry(run, index, path, sizeof path) != kPlanWrite) continue;
    if (entries[i].isDirectory) {
      ExtractWithoutData(run, index, path);
      continue;
    }
    HANDLE file = CreateOutputFile(path);
    if (file == INVALID_HANDLE_VALUE) {
      NoteFailure(run, index, "cannot create the output file");
      continue;
    }
    ByteSink sink = {WriteToFile, &file};
    Problem problem = nullptr;
    bool ok = ExtractZipEntry(run->data, run->size, entries[i], &sink, &problem);
    CloseHandle(file);
    if (ok) {
      ++run->result->files;
    } else {
      DeleteFileA(path);  // never leave bytes that failed their check
      NoteFailure(run, index, problem);
    }
  }
}

// Routes one 7z folder's output to its entries' files in stream order.
struct FolderSplit {
  ExtractRun* run = nullptr;
  std::vector<int> entries;  // entry indices fed by this folder, in order
  std::vector<bool> write;   // whether each one is written
  std::vector<std::string> paths;
  size_t next = 0;       // the entry the next bytes belong to
  uint64_t left = 0;     // bytes still due to that entry
  bool started = false;  // its output is open (or it is skipped)
  HANDLE file = INVALID_HANDLE_VALUE;
  uint32_t crc = 0;
  bool entryFailed = false;  // its file could not be made or written; bytes are dropped
};

void FinishEntry(FolderSplit* split) {
  int index = split->entries[split->next];
  const ArchiveEntry& entry = split->run->listing->entries[static_cast<size_t>(index)];
  if (split->write[split->next]) {
    const char* path = split->paths[split->next].c_str();
    if (split->file != INVALID_HANDLE_VALUE) CloseHandle(split->file);
    split->file = INVALID_HANDLE_VALUE;
    if (split->entryFailed) {
      DeleteFileA(path);
      NoteFailure(split->run, index, "cannot write the output file");
    } else if (entry.hasCrc && split->crc != entry.crc) {
      DeleteFileA(path);
      NoteFailure(split->run, index, "CRC-32 mismatch");
    } else {
      ++split->run->result->files;
    }
  }
  ++split->next;
  split->started = false;
}

void StartEntry(FolderSplit* split) {
  const ArchiveEntry& entry = split->run->listing->entries[static_cast<size_t>(split->entries[split->next])];
  split->left = entry.size;
  split->crc = 0;
  split->entryFailed = false;
  split->started = true;
  if (split->write[split->next]) {
    split->file = CreateOutputFile(split->paths[split->next].c_str());
    split->entryFailed = split->file == INVALID_HANDLE_VALUE;
  }
}

// Opens the entries due next, finishing those of zero length on the way.
void AdvanceSplit(FolderSplit* split) {
  while (split->next < split->entries.size()) {
    if (!split->started) StartEntry(split);
    if (split->left > 0) return;
    FinishEntry(split);
  }
}

bool SplitWrite(void* context, const uint8_t* data, size_t size) {
  auto* split = static_cast<FolderSplit*>(context);
  while (size > 0) {
    AdvanceSplit(split);
    if (split->next >= split->entries.size()) return false;  // more bytes than the entries hold
    size_t count = split->left < size ? static_cast<size_t>(split->left) : size;
    if (split->write[split->next] && !split->entryFailed) {
      split->crc = static_cast<uint32_t>(crc32(split->crc, data, static_cast<uInt>(count)));
      split->entryFailed = !WriteToFile(&split->file, data, count);
    }
    split->left -= count;
    data += count;
    size -= count;
    if (split->left == 0) FinishEntry(split);
  }
  return true;
}

// After a decoding failure: the entry being written and every later one of
// the folder fail, and no partial file stays behind.
void AbandonSplit(FolderSplit* split, Problem problem) {
  for (; split->next < split->entries.size(); ++split->next) {
    if (!split->write[split->next]) continue;
    if (split->started && split->file != INVALID_HANDLE_VALUE) {
      CloseHandle(split->file);
      split->file = INVALID_HANDLE_VALUE;
      DeleteFileA(split->paths[split->next].c_str());
    }
    split->started = false;
    NoteFailure(split->run, split->entries[split->next], problem);
  }
}

void ExtractSevenZip(ExtractRun* run) {
  const ArchiveListing& listing = *run->listing;
  std::vector<FolderSplit> splits(listing.folders.size());
  for (FolderSplit& split : splits) split.run = run;
  // Entries without data are made at once; the others wait for their folder.
  for (size_t i = 0; i < listing.entries.size(); ++i) {
    int index = static_cast<int>(i);
    const ArchiveEntry& entry = listing.entries[i];
    char path[MAX_PATH];
    EntryPlan plan = PlanEntry(run, index, path, sizeof path);
    if (entry.folder < 0) {
      if (plan == kPlanWrite) ExtractWithoutData(run, index, path);
      continue;
    }
    FolderSplit& split = splits[static_cast<size_t>(entry.folder)];
    split.entries.push_back(index);
    split.write.push_back(plan == kPlanWrite);
    split.paths.push_back(path);
  }
  for (size_t f = 0; f < splits.size(); ++f) {
    FolderSplit& split = splits[f];
    bool wanted = false;
    for (bool write : split.write) wanted = wanted || write;
    if (!wanted) continue;  // nothing of this folder is asked for: skip decoding it
    ByteSink sink = {SplitWrite, &split};
    Problem problem = nullptr;
    bool ok = DecodeSevenZipFolder(run->data, run->size, listing.folders[f], &sink, &problem);
    if (ok) AdvanceSplit(&split);  // trailing empty streams
    if (ok && split.next != split.entries.size()) {
      ok = false;
      problem = "7z folder holds less data than its files";
    }
    if (!ok) {
      int failedBefore = run->result->failed;
      AbandonSplit(&split, problem);
      // Every entry was already complete: the folder itself is still at fault.
      if (run->result->failed == failedBefore) NoteFailure(run, split.entries.front(), problem);
    }
  }
}

}  // namespace

bool ReadArchiveListing(const MappedFile& mapped, ArchiveListing* listing, Problem* problem) {
  if (LooksLikeSevenZip(mapped.data, mapped.size)) {
    return ReadSevenZipListing(mapped.data, mapped.size, listing, problem);
  }
  if (LooksLikeZip(mapped.data, mapped.size)) return ReadZipListing(mapped.data, mapped.size, listing, problem);
  *problem = "not a zip or 7z archive";
  return false;
}

bool ExtractArchiveTo(const char* archivePath, const char* outputFolder, const char* pattern,
                      ExtractResult* result) {
  *result = ExtractResult();
  MappedFile mapped;
  Problem problem = nullptr;
  if (!OpenMappedFile(archivePath, &mapped, &problem)) {
    result->firstProblem = problem;
    return false;
  }
  ArchiveListing listing;
  bool read = ReadArchiveListing(mapped, &listing, &problem);
  if (!read) {
    result->firstProblem = problem;
  } else {
    ExtractRun run = {mapped.data, mapped.size, &listing, outputFolder, pattern, result};
    if (listing.format == kFormatZip) {
      ExtractZip(&run);
    } else {
      ExtractSevenZip(&run);
    }
  }
  CloseMappedFile(&mapped);
  return read && result->failed == 0;
}
