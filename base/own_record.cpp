#include "base/own_record.h"

#include <cstring>

#include "base/file_io.h"
#include "base/state.h"

// A run holds one copy at a time and a few held ones; a launch a staging folder.
static constexpr int kRecordSlots = 128;
static constexpr int kFoldersInUse = 16;

struct OwnRecord {
  HANDLE file = INVALID_HANDLE_VALUE;
  char path[kPathSize] = "";
  OwnSlot slots[kRecordSlots];
  bool live[kRecordSlots];  // false: free, though the file may still hold what was there
  int count = 0;            // slots in the file
  bool stale = false;       // a slot in the file is no longer live
  char refusingFolder[kPathSize] = "";
  // The volume serial of the folder things were last made in: under Wine each
  // volume question is a trip to its mount manager, so it is asked once.
  char serialFolder[kPathSize] = "";
  DWORD serial = 0;
};

// A launch may extract on a thread of its own; one lock keeps the record whole.
static OwnRecord gRecord;
static FileIdentity gFoldersInUse[kFoldersInUse];
static int gFoldersInUseCount = 0;
static SRWLOCK gRecordLock = SRWLOCK_INIT;

// FNV-1a over the slot's bytes before its checksum; a slot is zeroed before
// it is filled, so that its padding is part of what is sealed.
static uint32_t ChecksumOf(const OwnSlot& slot) {
  const BYTE* bytes = reinterpret_cast<const BYTE*>(&slot);
  uint32_t hash = 2166136261u;
  for (size_t i = 0; i < offsetof(OwnSlot, checksum); ++i) hash = (hash ^ bytes[i]) * 16777619u;
  return hash;
}

void SealOwnSlot(OwnSlot* slot) { slot->checksum = ChecksumOf(*slot); }

bool IsOwnSlotSound(const OwnSlot& slot) {
  return (slot.kind == kOwnFile || slot.kind == kOwnFolder || slot.kind == kOwnIntent) &&
         slot.checksum == ChecksumOf(slot) && memchr(slot.path, '\0', sizeof slot.path) != nullptr;
}

FILETIME ProcessStartTime() {
  static FILETIME start = [] {
    FILETIME created = {}, exited = {}, kernel = {}, user = {};
    GetProcessTimes(GetCurrentProcess(), &created, &exited, &kernel, &user);
    return created;
  }();
  return start;
}

static bool WriteSlots(OwnRecord* record, int first, int count) {
  LARGE_INTEGER at = {};
  at.QuadPart = static_cast<LONGLONG>(first) * static_cast<LONGLONG>(sizeof(OwnSlot));
  if (SetFilePointerEx(record->file, at, nullptr, FILE_BEGIN) &&
      WriteChecked(record->file, &record->slots[first], sizeof(OwnSlot) * static_cast<size_t>(count), kWriteRecord)) {
    return true;
  }
  ReportSystemError("WriteFile", record->path, GetLastError());
  return false;
}

static void CloseRecordFile(OwnRecord* record) {
  record->refusingFolder[0] = record->serialFolder[0] = '\0';
  if (record->file == INVALID_HANDLE_VALUE) return;
  bool empty = true;
  for (int i = 0; i < record->count; ++i) {
    empty = empty && !record->live[i];
    if (!record->live[i]) record->slots[i] = OwnSlot();
  }
  // One write clears every slot of a file that is gone, so that no later
  // file with its identity could pass for it.
  if (!empty && record->stale) WriteSlots(record, 0, record->count);
  CloseHandle(record->file);
  record->file = INVALID_HANDLE_VALUE;
  if (empty) {
    HoldRetry once = {};
    TryDeleteFile(record->path, &once);
  }
  record->count = 0;
  record->stale = false;
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
  record->count = static_cast<int>(read / sizeof(OwnSlot));
  record->stale = false;
  for (int i = 0; i < record->count; ++i) {
    record->live[i] = IsOwnSlotSound(record->slots[i]);
    record->stale = record->stale || !record->live[i];
  }
  return true;
}

// Writes slot into a free place of the record: the first slot no longer
// live, or a new one at the end. Its index, or -1 when it was not written.
static int PlaceSlot(OwnSlot* slot) {
  SealOwnSlot(slot);
  OwnRecord* record = &gRecord;
  if (!OpenRecordFile(record, true)) return -1;
  int index = 0;
  while (index < record->count && record->live[index]) ++index;
  // More at once than the slots hold: the rest stay unrecorded.
  if (index == kRecordSlots) return -1;
  record->slots[index] = *slot;
  record->live[index] = true;
  if (index == record->count) ++record->count;
  return WriteSlots(record, index, 1) ? index : -1;
}

static bool AddSlot(OwnSlot* slot) { return PlaceSlot(slot) >= 0; }

static bool FolderOf(char* folder, size_t size, const char* path) {
  return FormatText(folder, size, "%.*s", static_cast<int>(LastComponent(path) - path), path);
}

// Opens the record and learns the volume serial of folder (ending with "\"),
// before anything is made there: what is made is then recorded at once, and
// a kill can fall only between the make and one write.
static bool PrepareLocked(const char* folder) {
  OwnRecord* record = &gRecord;
  if (!OpenRecordFile(record, true)) return false;
  if (record->serialFolder[0] != '\0' && strcmp(record->serialFolder, folder) == 0) return true;
  FileIdentity folderIdentity = {};
  if (!GetFileIdentity(folder, &folderIdentity)) return false;
  CopyText(record->serialFolder, sizeof record->serialFolder, folder);
  record->serial = folderIdentity.volumeSerial;
  return true;
}

void PrepareToRecordIn(const char* folder) {
  AcquireSRWLockExclusive(&gRecordLock);
  PrepareLocked(folder);
  ReleaseSRWLockExclusive(&gRecordLock);
}

// The identity of what was just made at path: its file index (from handle
// when there is one) and the volume serial of its folder.
static bool IdentityOfMade(const char* path, HANDLE handle, FileIdentity* identity) {
  char folder[kPathSize];
  if (!FolderOf(folder, sizeof folder, path) || !PrepareLocked(folder) ||
      !(handle != INVALID_HANDLE_VALUE ? GetHandleIndex(handle, identity) : GetFileIndex(path, identity))) {
    return false;
  }
  identity->volumeSerial = gRecord.serial;
  return true;
}

TryResult TryCreateOwnFile(const char* path, DWORD access, DWORD flags, long long mostBytes, HoldRetry* retry,
                           HANDLE* created) {
  *created = INVALID_HANDLE_VALUE;
  char folder[kPathSize];
  if (!FolderOf(folder, sizeof folder, path)) {
    SetLastError(ERROR_FILENAME_EXCED_RANGE);
    return kTryFailed;
  }
  AcquireSRWLockExclusive(&gRecordLock);
  bool refused = gRecord.refusingFolder[0] != '\0' && strcmp(gRecord.refusingFolder, folder) == 0;
  // Written before the make (in the slot of a copy already gone, where there
  // is one), so that a kill before the identity's write still leaves proof.
  int intent = -1;
  if (!refused && PrepareLocked(folder)) {
    OwnSlot slot = {};
    slot.kind = kOwnIntent;
    GetSystemTimeAsFileTime(&slot.madeAt);
    if (CopyText(slot.path, sizeof slot.path, path)) intent = PlaceSlot(&slot);
  }
  ReleaseSRWLockExclusive(&gRecordLock);
  if (refused) {
    SetLastError(ERROR_ACCESS_DENIED);
    return kTryFailed;
  }
  TryResult result = TryCreateNewFile(path, access, flags, retry, created);
  DWORD error = GetLastError();
  AcquireSRWLockExclusive(&gRecordLock);
  if (result == kTryFailed && error == ERROR_ACCESS_DENIED) {
    CopyText(gRecord.refusingFolder, sizeof gRecord.refusingFolder, folder);
  }
  if (result == kTryDone) {
    OwnSlot slot = {};
    slot.kind = kOwnFile;
    slot.mostBytes = mostBytes;
    // Where the identity cannot be had, the intent stays: it proves the empty file.
    if (IdentityOfMade(path, *created, &slot.identity) && CopyText(slot.path, sizeof slot.path, path)) {
      if (intent < 0 || gRecord.file == INVALID_HANDLE_VALUE) {
        AddSlot(&slot);
      } else {
        SealOwnSlot(&slot);
        gRecord.slots[intent] = slot;
        WriteSlots(&gRecord, intent, 1);
      }
    }
  } else if (intent >= 0) {
    gRecord.live[intent] = false;
    gRecord.stale = true;
  }
  ReleaseSRWLockExclusive(&gRecordLock);
  SetLastError(error);
  return result;
}

bool CreateOwnLink(const char* path, const char* target, HANDLE targetOpen, long long mostBytes) {
  char folder[kPathSize];
  if (!FolderOf(folder, sizeof folder, path)) {
    SetLastError(ERROR_FILENAME_EXCED_RANGE);
    return false;
  }
  AcquireSRWLockExclusive(&gRecordLock);
  PrepareLocked(folder);
  ReleaseSRWLockExclusive(&gRecordLock);
  if (!CreateHardLinkA(path, target, nullptr)) return false;
  AcquireSRWLockExclusive(&gRecordLock);
  OwnSlot slot = {};
  slot.kind = kOwnFile;
  slot.mostBytes = mostBytes;
  // The target's open handle names the same file without another open.
  if (IdentityOfMade(path, targetOpen, &slot.identity) && CopyText(slot.path, sizeof slot.path, path)) {
    AddSlot(&slot);
  }
  ReleaseSRWLockExclusive(&gRecordLock);
  return true;
}

static void MarkInUseLocked(const FileIdentity& identity, bool inUse) {
  for (int i = 0; i < gFoldersInUseCount; ++i) {
    if (!SameIdentity(gFoldersInUse[i], identity)) continue;
    if (!inUse) gFoldersInUse[i] = gFoldersInUse[--gFoldersInUseCount];
    return;
  }
  if (inUse && gFoldersInUseCount < kFoldersInUse) gFoldersInUse[gFoldersInUseCount++] = identity;
}

bool RecordPrivateFolder(const char* path, const FILETIME& madeAt, FileIdentity* identity) {
  OwnSlot slot = {};
  slot.kind = kOwnFolder;
  slot.processId = GetCurrentProcessId();
  slot.processStart = ProcessStartTime();
  slot.madeAt = madeAt;
  if (!CopyText(slot.path, sizeof slot.path, path)) return false;
  // Recorded without the final "\", as the folder's own name.
  if (EndsWithBackslash(slot.path)) slot.path[strlen(slot.path) - 1] = '\0';
  AcquireSRWLockExclusive(&gRecordLock);
  if (!IdentityOfMade(slot.path, INVALID_HANDLE_VALUE, &slot.identity)) {
    ReleaseSRWLockExclusive(&gRecordLock);
    return false;
  }
  *identity = slot.identity;
  MarkInUseLocked(slot.identity, true);
  bool recorded = AddSlot(&slot);
  ReleaseSRWLockExclusive(&gRecordLock);
  return recorded;
}

bool FindOwnSlot(const char* path, OwnSlot* slot) {
  AcquireSRWLockExclusive(&gRecordLock);
  // Read again when the action's end already closed it (a launch's folder
  // goes last), and closed again.
  bool found = false;
  bool wasOpen = gRecord.file != INVALID_HANDLE_VALUE;
  if (wasOpen || OpenRecordFile(&gRecord, false)) {
    for (int i = 0; i < gRecord.count && !found; ++i) {
      found = gRecord.live[i] && strcmp(gRecord.slots[i].path, path) == 0;
      if (found) *slot = gRecord.slots[i];
    }
    if (!wasOpen) CloseRecordFile(&gRecord);
  }
  ReleaseSRWLockExclusive(&gRecordLock);
  return found;
}

void ForgetOwnSlot(const FileIdentity& identity) {
  AcquireSRWLockExclusive(&gRecordLock);
  // After the action's end closed the record (a launch's folder goes last),
  // it is opened for this alone and closed again, so that no slot of a folder
  // that is gone outlives the action.
  bool wasOpen = gRecord.file != INVALID_HANDLE_VALUE;
  if (wasOpen || OpenRecordFile(&gRecord, false)) {
    for (int i = 0; i < gRecord.count; ++i) {
      if (!gRecord.live[i] || gRecord.slots[i].kind == kOwnIntent || !SameIdentity(gRecord.slots[i].identity, identity))
        continue;
      gRecord.live[i] = false;
      gRecord.stale = true;
    }
    if (!wasOpen) CloseRecordFile(&gRecord);
  }
  MarkInUseLocked(identity, false);
  ReleaseSRWLockExclusive(&gRecordLock);
}

void ForgetOwnIntent(const char* path) {
  AcquireSRWLockExclusive(&gRecordLock);
  for (int i = 0; i < gRecord.count; ++i) {
    if (!gRecord.live[i] || gRecord.slots[i].kind != kOwnIntent || strcmp(gRecord.slots[i].path, path) != 0) continue;
    gRecord.live[i] = false;
    gRecord.stale = true;
  }
  ReleaseSRWLockExclusive(&gRecordLock);
}

void ForgetOwnSlotsGoneBelow(const char* folder) {
  size_t length = strlen(folder);
  AcquireSRWLockExclusive(&gRecordLock);
  for (int i = 0; i < gRecord.count; ++i) {
    const OwnSlot& slot = gRecord.slots[i];
    if (!gRecord.live[i] || strlen(slot.path) <= length || strncmp(slot.path, folder, length) != 0 ||
        GetFileAttributesA(slot.path) != INVALID_FILE_ATTRIBUTES) {
      continue;
    }
    gRecord.live[i] = false;
    gRecord.stale = true;
    MarkInUseLocked(slot.identity, false);
  }
  ReleaseSRWLockExclusive(&gRecordLock);
}

void MarkFolderInUse(const FileIdentity& identity, bool inUse) {
  AcquireSRWLockExclusive(&gRecordLock);
  MarkInUseLocked(identity, inUse);
  ReleaseSRWLockExclusive(&gRecordLock);
}

bool IsFolderInUse(const FileIdentity& identity) {
  AcquireSRWLockExclusive(&gRecordLock);
  bool inUse = false;
  for (int i = 0; i < gFoldersInUseCount && !inUse; ++i) inUse = SameIdentity(gFoldersInUse[i], identity);
  ReleaseSRWLockExclusive(&gRecordLock);
  return inUse;
}

int ReadOwnSlots(OwnSlot* slots, int max) {
  AcquireSRWLockExclusive(&gRecordLock);
  int found = 0;
  if (OpenRecordFile(&gRecord, false)) {
    for (int i = 0; i < gRecord.count && found < max; ++i) {
      if (gRecord.live[i]) slots[found++] = gRecord.slots[i];
    }
  }
  ReleaseSRWLockExclusive(&gRecordLock);
  return found;
}

void CloseOwnRecord() {
  AcquireSRWLockExclusive(&gRecordLock);
  CloseRecordFile(&gRecord);
  ReleaseSRWLockExclusive(&gRecordLock);
}
