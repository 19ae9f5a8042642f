#include "base/own_files.h"

#include <climits>
#include <cstdlib>
#include <cstring>

#include "base/file_io.h"
#include "base/state.h"
#include "base/texts.h"

static constexpr char kPrivatePrefix[] = "corvane-";

bool MakePrivateFolder(const char* parent, char* folder, size_t size) {
  // Bounded: a hundred names taken means something else is wrong.
  for (unsigned attempt = 0; attempt < 100; ++attempt) {
    if (!FormatText(folder, size, "%s%s%lu-%u\\", parent, kPrivatePrefix, GetCurrentProcessId(), attempt)) break;
    if (CreateDirectoryA(folder, nullptr)) return true;
    if (GetLastError() != ERROR_ALREADY_EXISTS) break;
  }
  folder[0] = '\0';
  return false;
}

// --- Removal -----------------------------------------------------------------

struct RemovalStep {
  FolderRemoval* removal;
};

static WalkAnswer RemoveEntry(void* context, WalkedEntry* entry) {
  FolderRemoval* removal = static_cast<RemovalStep*>(context)->removal;
  // What cannot be named is left alone.
  if (entry->path == nullptr) return kWalkOn;
  if (IsFolderEntry(*entry->found)) {
    if (!IsFolderLink(entry->found->dwFileAttributes)) return kWalkDescend;
    HoldRetry once = {};
    TryRemoveOwnFolder(entry->path, &once);
    return kWalkOn;
  }
  HoldRetry once = {};
  if (TryDeleteOwnFile(entry->path, &once) == kTryLater && removal->held != nullptr) {
    removal->held(removal->heldContext, entry->path);
  }
  return kWalkOn;
}

// Each folder, the private folder itself last, goes once its entries are gone;
// one that still holds a held file stays.
static void LeaveFolder(void*, const char* folder, int32_t, bool) {
  char path[kPathSize];
  if (!CopyText(path, sizeof path, folder)) return;
  if (EndsWithBackslash(path)) path[strlen(path) - 1] = '\0';
  HoldRetry once = {};
  TryRemoveOwnFolder(path, &once);
}

void StartFolderRemoval(FolderRemoval* removal, const char* folder, void (*held)(void* context, const char* path),
                        void* heldContext) {
  EndFolderRemoval(removal);
  removal->held = held;
  removal->heldContext = heldContext;
  removal->underWay = StartTreeWalk(&removal->walk, folder, 0);
}

bool StepLeftoverRemoval(FolderRemoval* removal, int maxEntries) {
  if (!removal->underWay) return true;
  RemovalStep step = {removal};
  if (StepTreeWalk(&removal->walk, maxEntries, {RemoveEntry, LeaveFolder, &step})) {
    EndTreeWalk(&removal->walk);
    removal->underWay = false;
  }
  return !removal->underWay;
}

void EndFolderRemoval(FolderRemoval* removal) {
  while (!StepLeftoverRemoval(removal, INT_MAX)) {
  }
}

bool RemoveFolderTree(const char* path) {
  char folder[kPathSize];
  if (!CopyText(folder, sizeof folder, path) || !EnsureTrailingBackslash(folder, sizeof folder)) return false;
  DWORD attributes = GetFileAttributesA(folder);
  if (attributes == INVALID_FILE_ATTRIBUTES) return true;
  if (!(attributes & FILE_ATTRIBUTE_DIRECTORY)) return false;
  if (!IsFolderLink(attributes)) {
    FolderRemoval removal;
    StartFolderRemoval(&removal, folder, nullptr, nullptr);
    EndFolderRemoval(&removal);
  }
  folder[strlen(folder) - 1] = '\0';
  HoldRetry once = {};
  return TryRemoveOwnFolder(folder, &once) == kTryDone;
}

// --- The record --------------------------------------------------------------
// Fixed slots, each written in place with one WriteFile: the file's bytes are
// the system's once the call returns, so a killed process leaves them. A slot
// whose first byte is 0 is free.

struct RecordSlot {
  char path[kPathSize];      // a file of the plug-in's, or a user's file moved aside
  char original[kPathSize];  // where an aside belongs; empty for a file of the plug-in's
};

static constexpr int kRecordSlots = 128;

struct OwnRecord {
  HANDLE file = INVALID_HANDLE_VALUE;
  char path[kPathSize] = "";
  RecordSlot slots[kRecordSlots];
  int count = 0;  // slots in the file
};

// A launch may extract on a thread of its own; one lock keeps the record whole.
static OwnRecord gRecord;
static SRWLOCK gRecordLock = SRWLOCK_INIT;

static void CloseRecordFile(OwnRecord* record) {
  if (record->file == INVALID_HANDLE_VALUE) return;
  CloseHandle(record->file);
  record->file = INVALID_HANDLE_VALUE;
  bool empty = true;
  for (int i = 0; i < record->count; ++i) empty = empty && record->slots[i].path[0] == '\0';
  if (empty) {
    HoldRetry once = {};
    TryDeleteOwnFile(record->path, &once);
  }
  record->count = 0;
}

// Opens the record of the current data folder and reads its slots; with
// create false, a missing record stays missing.
static bool OpenRecordFile(OwnRecord* record, bool create) {
  char path[kPathSize];
  if (gState.dataDir[0] == '\0' || !FormatText(path, sizeof path, "%s%s", gState.dataDir, kOwnRecordName)) return false;
  if (record->file != INVALID_HANDLE_VALUE && strcmp(path, record->path) == 0) return true;
  CloseRecordFile(record);
  CopyText(record->path, sizeof record->path, path);
  record->file = CreateFileA(path, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                             create ? OPEN_ALWAYS : OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (record->file == INVALID_HANDLE_VALUE) return false;
  DWORD read = 0;
  memset(record->slots, 0, sizeof record->slots);
  if (!ReadFile(record->file, record->slots, sizeof record->slots, &read, nullptr)) read = 0;
  record->count = static_cast<int>(read / sizeof(RecordSlot));
  // A slot is trusted only once its texts are known to end inside it.
  for (int i = 0; i < record->count; ++i) {
    TerminateRecord(record->slots[i].path, kPathSize);
    TerminateRecord(record->slots[i].original, kPathSize);
  }
  return true;
}

static void WriteSlot(OwnRecord* record, int index) {
  LARGE_INTEGER at = {};
  at.QuadPart = static_cast<LONGLONG>(index) * static_cast<LONGLONG>(sizeof(RecordSlot));
  if (!SetFilePointerEx(record->file, at, nullptr, FILE_BEGIN) ||
      !WriteChecked(record->file, &record->slots[index], sizeof(RecordSlot), kWriteRecord)) {
    ReportSystemError("WriteFile", record->path, GetLastError());
  }
}

static void Record(const char* path, const char* original) {
  AcquireSRWLockExclusive(&gRecordLock);
  OwnRecord* record = &gRecord;
  if (OpenRecordFile(record, true)) {
    int free = -1;
    bool known = false;
    for (int i = 0; i < record->count && !known; ++i) {
      known = strcmp(record->slots[i].path, path) == 0;
      if (free < 0 && record->slots[i].path[0] == '\0') free = i;
    }
    // More at once than the slots hold: the rest stay unrecorded.
    if (free < 0 && record->count < kRecordSlots) free = record->count++;
    if (!known && free >= 0 && CopyText(record->slots[free].path, kPathSize, path) &&
        CopyText(record->slots[free].original, kPathSize, original)) {
      WriteSlot(record, free);
    }
  }
  ReleaseSRWLockExclusive(&gRecordLock);
}

void RecordOwnFile(const char* path) { Record(path, ""); }

void RecordAside(const char* aside, const char* original) { Record(aside, original); }

void ForgetOwnFile(const char* path) {
  AcquireSRWLockExclusive(&gRecordLock);
  OwnRecord* record = &gRecord;
  if (record->file != INVALID_HANDLE_VALUE) {
    for (int i = 0; i < record->count; ++i) {
      if (record->slots[i].path[0] == '\0' || strcmp(record->slots[i].path, path) != 0) continue;
      record->slots[i] = RecordSlot();
      WriteSlot(record, i);
    }
  }
  ReleaseSRWLockExclusive(&gRecordLock);
}

void CloseOwnRecord() {
  AcquireSRWLockExclusive(&gRecordLock);
  CloseRecordFile(&gRecord);
  ReleaseSRWLockExclusive(&gRecordLock);
}

// --- Leftovers -----------------------------------------------------------------

// Only a path inside the temp folder, never above it: a record edited by hand
// must not make the plug-in delete anything of the user's.
static bool LiesInTemp(const char* path) {
  size_t tempLength = strlen(gState.tempDir);
  return tempLength > 0 && strlen(path) > tempLength && strstr(path, "..") == nullptr &&
         CompareStringA(LOCALE_INVARIANT, NORM_IGNORECASE, path, static_cast<int>(tempLength), gState.tempDir,
                        static_cast<int>(tempLength)) == CSTR_EQUAL;
}

// What became of one slot: true when it is settled and can be forgotten. A
// lasting failure to put an aside back is named in failed.
static bool SettleSlot(const RecordSlot& slot, bool* failed) {
  HoldRetry once = {};
  if (slot.original[0] == '\0') {
    if (!LiesInTemp(slot.path)) return true;
    return TryDeleteOwnFile(slot.path, &once) != kTryLater;
  }
  if (GetFileAttributesA(slot.path) == INVALID_FILE_ATTRIBUTES) return true;
  // What stands at the original's place now is the extraction's, which the
  // user's own file came before.
  TryResult moved = TryMoveOwnFile(slot.path, slot.original, MOVEFILE_REPLACE_EXISTING | MOVEFILE_COPY_ALLOWED, &once);
  if (moved == kTryLater) return false;
  *failed = moved == kTryFailed;
  return true;
}

static void RemovePrivateFolders() {
  char pattern[kPathSize];
  if (gState.tempDir[0] == '\0' || !FormatText(pattern, sizeof pattern, "%s%s*", gState.tempDir, kPrivatePrefix)) {
    return;
  }
  WIN32_FIND_DATAA found;
  HANDLE search = FindFirstFileA(pattern, &found);
  if (search == INVALID_HANDLE_VALUE) return;
  do {
    // The pattern also meets 8.3 names: the long name must be ours.
    if (!IsFolderEntry(found) || strncmp(found.cFileName, kPrivatePrefix, strlen(kPrivatePrefix)) != 0) continue;
    DWORD owner = strtoul(found.cFileName + strlen(kPrivatePrefix), nullptr, 10);
    if (owner != GetCurrentProcessId()) {
      // Another host's plug-in may be extracting into it now.
      HANDLE process = OpenProcess(SYNCHRONIZE, FALSE, owner);
      bool running = process != nullptr && WaitForSingleObject(process, 0) == WAIT_TIMEOUT;
      if (process != nullptr) CloseHandle(process);
      if (running) continue;
    }
    char folder[kPathSize];
    if (FormatText(folder, sizeof folder, "%s%s", gState.tempDir, found.cFileName)) RemoveFolderTree(folder);
  } while (FindNextFileA(search, &found));
  FindClose(search);
}

void RemoveLeftoversOfEarlierActions(HWND owner) {
  // Named after the lock is let go: a box pumps messages.
  RecordSlot unrestored[4];
  int unrestoredCount = 0;
  AcquireSRWLockExclusive(&gRecordLock);
  OwnRecord* record = &gRecord;
  if (OpenRecordFile(record, false)) {
    for (int i = 0; i < record->count; ++i) {
      bool failed = false;
      if (record->slots[i].path[0] == '\0' || !SettleSlot(record->slots[i], &failed)) continue;
      if (failed && unrestoredCount < static_cast<int>(sizeof unrestored / sizeof *unrestored)) {
        unrestored[unrestoredCount++] = record->slots[i];
      }
      record->slots[i] = RecordSlot();
      WriteSlot(record, i);
    }
    CloseRecordFile(record);
  }
  ReleaseSRWLockExclusive(&gRecordLock);
  RemovePrivateFolders();
  for (int i = 0; i < unrestoredCount; ++i) {
    char text[3 * kPathSize];
    FormatText(text, sizeof text, kTextAsideNotRestored, unrestored[i].original, unrestored[i].path);
    MessageBoxA(owner, text, nullptr, MB_OK | MB_ICONWARNING);
  }
}
