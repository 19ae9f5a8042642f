// Extraction below an output folder: entry names become paths there (refused
// when unsafe or longer than MAX_PATH), folders are made as needed, files are
// replaced, and a file whose bytes fail their check is removed again.
#include <string>
#include <vector>

#include "archiver/archiver.h"
#include "base/text.h"

namespace {

struct ExtractRun {
  const uint8_t* data;
  uint64_t size;
  const ArchiveListing* listing;
  const char* outputFolder;
  const std::vector<std::string>* patterns;
  bool skipExisting;
  ExtractResult* result;
};

void NoteFailure(ExtractRun* run, int entry, Problem problem) {
  ExtractResult* result = run->result;
  if (result->failed++ == 0) {
    result->firstFailedEntry = entry;
    result->firstProblem = problem;
  }
}

// Folder output path for an entry, for the wide calls: what the ANSI calls
// would make of the folder and the name joined, or, for a name the code page
// cannot carry, the folder so read and the name as stored. False (and the
// path empty) when the name is unusable or unsafe or the path would not fit.
bool ComposePath(const ExtractRun* run, const ArchiveEntry& entry, std::wstring* path, Problem* problem) {
  path->clear();
  if (!entry.nameUsable) {
    *problem = "entry name cannot be decoded";
    return false;
  }
  if (!entry.nameSafe) {
    *problem = "entry name refused: it would leave the output folder";
    return false;
  }
  bool separated = EndsWithBackslash(run->outputFolder);
  char spelt[MAX_PATH];
  wchar_t wide[MAX_PATH];
  int length = 0;
  if (FormatText(spelt, sizeof spelt, separated ? "%s%s" : "%s\\%s", run->outputFolder, entry.name.c_str())) {
    const char* converted = entry.wideName.empty() ? spelt : run->outputFolder;
    length = MultiByteToWideChar(CP_ACP, 0, converted, -1, wide, MAX_PATH);
  }
  if (length > 0) path->assign(wide, static_cast<size_t>(length - 1));
  if (length > 0 && !entry.wideName.empty()) {
    if (!separated) path->push_back(L'\\');
    path->append(entry.wideName);
  }
  if (length == 0 || path->size() >= MAX_PATH) {
    path->clear();
    *problem = "output path too long";
    return false;
  }
  return true;
}

// Makes every folder on the way to path's last component. Failures are left to
// the file or folder creation that follows, which reports them.
void MakeParentFolders(const std::wstring& path) {
  for (size_t i = 1; i < path.size(); ++i) {
    if (path[i] == L'\\') CreateDirectoryW(path.substr(0, i).c_str(), nullptr);
  }
}

bool MakeFolder(const std::wstring& path) {
  MakeParentFolders(path);
  if (CreateDirectoryW(path.c_str(), nullptr)) return true;
  DWORD attributes = GetFileAttributesW(path.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

// Replaces an existing file, read-only ones included, as overwrite-all asks.
HANDLE CreateOutputFile(const std::wstring& path) {
  MakeParentFolders(path);
  HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE && GetLastError() == ERROR_ACCESS_DENIED) {
    DWORD attributes = GetFileAttributesW(path.c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY) &&
        (attributes & FILE_ATTRIBUTE_READONLY)) {
      SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_NORMAL);
      file = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
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

EntryPlan PlanEntry(ExtractRun* run, int index, std::wstring* path) {
  const ArchiveEntry& entry = run->listing->entries[static_cast<size_t>(index)];
  bool matches = false;
  for (const std::string& pattern : *run->patterns) {
    matches = matches || (entry.nameUsable ? MatchesPattern(pattern.c_str(), entry.name.c_str())
                                           : MatchesEverything(pattern.c_str()));
  }
  if (!matches) return kPlanSkip;
  Problem problem = nullptr;
  if (!ComposePath(run, entry, path, &problem)) {
    NoteFailure(run, index, problem);
    return kPlanRefuse;
  }
  if (run->skipExisting && GetFileAttributesW(path->c_str()) != INVALID_FILE_ATTRIBUTES) return kPlanSkip;
  return kPlanWrite;
}

// Folders and empty files need no decoding.
void ExtractWithoutData(ExtractRun* run, int index, const std::wstring& path) {
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
    std::wstring path;
    if (PlanEntry(run, index, &path) != kPlanWrite) continue;
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
      DeleteFileW(path.c_str());  // never leave bytes that failed their check
      NoteFailure(run, index, problem);
    }
  }
}

// Files are written only once their bytes have passed their CRC-32, so a
// failed one never leaves a file behind.
void ExtractSevenZip(ExtractRun* run, SevenZipArchive* archive) {
  const std::vector<ArchiveEntry>& entries = run->listing->entries;
  for (size_t i = 0; i < entries.size(); ++i) {
    int index = static_cast<int>(i);
    std::wstring path;
    if (PlanEntry(run, index, &path) != kPlanWrite) continue;
    if (entries[i].isDirectory) {
      ExtractWithoutData(run, index, path);
      continue;
    }
    const uint8_t* bytes = nullptr;
    size_t size = 0;
    Problem problem = nullptr;
    if (!DecodeSevenZipFile(archive, i, &bytes, &size, &problem)) {
      NoteFailure(run, index, problem);
      continue;
    }
    HANDLE file = CreateOutputFile(path);
    if (file == INVALID_HANDLE_VALUE) {
      NoteFailure(run, index, "cannot create the output file");
      continue;
    }
    bool written = WriteToFile(&file, bytes, size);
    CloseHandle(file);
    if (written) {
      ++run->result->files;
    } else {
      DeleteFileW(path.c_str());
      NoteFailure(run, index, "cannot write the output file");
    }
  }
}

}  // namespace

bool ReadArchiveListing(const MappedFile& mapped, ArchiveListing* listing, Problem* problem) {
  if (LooksLikeSevenZip(mapped.data, mapped.size)) {
    return ReadSevenZipListing(mapped.data, mapped.size, listing, problem);
  }
  if (!LooksLikeZip(mapped.data, mapped.size)) {
    *problem = "not a zip or 7z archive";
    return false;
  }
  // Caught here, so that the callers' mapping is still closed when the
  // listing outgrows memory.
  try {
    return ReadZipListing(mapped.data, mapped.size, listing, problem);
  } catch (...) {
    *problem = "out of memory";
    return false;
  }
}

bool ExtractArchiveTo(const char* archivePath, const char* outputFolder, const std::vector<std::string>& patterns,
                      bool skipExisting, ExtractResult* result) {
  *result = ExtractResult();
  MappedFile mapped;
  Problem problem = nullptr;
  if (!OpenMappedFile(archivePath, &mapped, &problem)) {
    result->firstProblem = problem;
    return false;
  }
  ArchiveListing listing;
  ExtractRun run = {mapped.data, mapped.size, &listing, outputFolder, &patterns, skipExisting, result};
  bool read = false;
  if (LooksLikeSevenZip(mapped.data, mapped.size)) {
    // Kept open for the extraction: the listing and the decoding share its records.
    SevenZipArchive* archive = OpenSevenZip(mapped.data, mapped.size, &listing, &problem);
    read = archive != nullptr;
    if (read) ExtractSevenZip(&run, archive);
    CloseSevenZip(archive);
  } else {
    read = ReadArchiveListing(mapped, &listing, &problem);
    if (read) ExtractZip(&run);
  }
  if (!read) result->firstProblem = problem;
  CloseMappedFile(&mapped);
  return read && result->failed == 0;
}
