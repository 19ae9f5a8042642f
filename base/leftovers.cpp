#include "base/leftovers.h"

#include <windows.h>

#include <cstring>

#include "base/own_files.h"
#include "base/own_record.h"
#include "base/state.h"

static constexpr int kSlotsAtOnce = 128;

// True when path lies below folder (compared as the file system compares
// names), goes nowhere up or aside on the way, and neither the folder's
// entries on the way nor path itself is a link or junction.
static bool LiesBelowWithoutLinks(const char* path, const char* folder) {
  size_t folderLength = strlen(folder);
  if (folderLength == 0 || !EndsWithBackslash(folder) || strlen(path) <= folderLength ||
      CompareStringA(LOCALE_INVARIANT, NORM_IGNORECASE, path, static_cast<int>(folderLength), folder,
                     static_cast<int>(folderLength)) != CSTR_EQUAL ||
      !NameStaysInsideFolder(path + folderLength)) {
    return false;
  }
  char step[kPathSize];
  for (const char* p = path + folderLength;; ++p) {
    if (*p != '\0' && *p != '\\') {
      // A double-byte character's trail byte may be 0x5C: step over both.
      if (IsDBCSLeadByte(static_cast<BYTE>(*p)) && p[1] != '\0') ++p;
      continue;
    }
    if (!FormatText(step, sizeof step, "%.*s", static_cast<int>(p - path), path)) return false;
    DWORD attributes = GetFileAttributesA(step);
    if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_REPARSE_POINT)) return false;
    if (*p == '\0') return true;
  }
}

// What stands at path now, looked at without following a link. The path's
// own attributes name a link too where an open does not (Wine follows a Unix
// link whatever the flags).
static bool LookAt(const char* path, FileIdentity* identity, DWORD* attributes) {
  DWORD own = GetFileAttributesA(path);
  if (own == INVALID_FILE_ATTRIBUTES || (own & FILE_ATTRIBUTE_REPARSE_POINT)) return false;
  HANDLE handle =
      CreateFileA(path, FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                  OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
  if (handle == INVALID_HANDLE_VALUE) return false;
  FILE_BASIC_INFO basic = {};
  bool known =
      GetFileInformationByHandleEx(handle, FileBasicInfo, &basic, sizeof basic) && GetHandleIdentity(handle, identity);
  CloseHandle(handle);
  *attributes = basic.FileAttributes;
  return known;
}

// Whether the process that made a folder has ended. A number no process has is
// gone; one a process holds that started after the folder was made was given
// again. Anything that cannot be asked counts as still running.
static bool IsMakerGone(const OwnSlot& slot) {
  HANDLE process = OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION | SYNCHRONIZE, FALSE, slot.processId);
  if (process == nullptr) return GetLastError() == ERROR_INVALID_PARAMETER;
  FILETIME created = {}, exited = {}, kernel = {}, user = {};
  bool gone = false;
  if (GetProcessTimes(process, &created, &exited, &kernel, &user)) {
    gone = CompareFileTime(&created, &slot.madeAt) > 0 || WaitForSingleObject(process, 0) == WAIT_OBJECT_0;
  }
  CloseHandle(process);
  return gone;
}

static bool IsThisProcess(const OwnSlot& slot) {
  FILETIME start = ProcessStartTime();
  return slot.processId == GetCurrentProcessId() && CompareFileTime(&start, &slot.processStart) == 0;
}

enum Settled { kSettledForget, kSettledKeep };

static Settled SettleFile(const OwnSlot& slot) {
  if (!LiesBelowWithoutLinks(slot.path, gState.tempDir)) return kSettledForget;
  HoldRetry once = {};
  return TryDeleteProvenFile(slot.path, slot.identity, slot.mostBytes, true, &once) == kTryDone ? kSettledForget
                                                                                                : kSettledKeep;
}

// A slot written before a make that a kill cut short proves no more than an
// empty file made at its path since.
static Settled SettleIntent(const OwnSlot& slot) {
  if (!LiesBelowWithoutLinks(slot.path, gState.tempDir)) return kSettledForget;
  HoldRetry once = {};
  return TryDeleteEmptyFileMadeSince(slot.path, slot.madeAt, &once) == kTryDone ? kSettledForget : kSettledKeep;
}

static Settled SettleFolder(const OwnSlot& slot) {
  DWORD process = 0;
  if (!ParsePrivateFolderName(LastComponent(slot.path), &process) || process != slot.processId) return kSettledForget;
  FileIdentity now = {};
  DWORD attributes = 0;
  if (!LookAt(slot.path, &now, &attributes) || !SameIdentity(now, slot.identity) ||
      !(attributes & FILE_ATTRIBUTE_DIRECTORY) || (attributes & FILE_ATTRIBUTE_REPARSE_POINT)) {
    return kSettledForget;
  }
  // Another host's plug-in, or a launch's worker of this one, may be using it.
  if (IsThisProcess(slot) ? IsFolderInUse(slot.identity) : !IsMakerGone(slot)) return kSettledKeep;
  return RemoveFolderTree(slot.path) ? kSettledForget : kSettledKeep;
}

void RemoveProvenLeftovers() {
  OwnSlot slots[kSlotsAtOnce];
  // Read under the record's lock, settled outside it: a folder's removal
  // forgets its slot itself.
  int count = ReadOwnSlots(slots, kSlotsAtOnce);
  for (int i = 0; i < count; ++i) {
    Settled settled = slots[i].kind == kOwnFile     ? SettleFile(slots[i])
                      : slots[i].kind == kOwnIntent ? SettleIntent(slots[i])
                                                    : SettleFolder(slots[i]);
    if (settled != kSettledForget) continue;
    if (slots[i].kind == kOwnIntent) {
      ForgetOwnIntent(slots[i].path);
    } else {
      ForgetOwnSlot(slots[i].identity);
    }
  }
  CloseOwnRecord();
}
