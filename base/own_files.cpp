#include "base/own_files.h"

#include <climits>
#include <cstdlib>
#include <cstring>

#include "base/state.h"

static constexpr char kPrivatePrefix[] = "corvane-";

bool MakePrivateFolder(const char* parent, char* folder, size_t size) {
  FILETIME madeAt = {};
  GetSystemTimeAsFileTime(&madeAt);
  PrepareToRecordIn(parent);
  // Bounded: a hundred names taken means something else is wrong.
  for (unsigned attempt = 0; attempt < 100; ++attempt) {
    if (!FormatText(folder, size, "%s%s%lu-%u\\", parent, kPrivatePrefix, GetCurrentProcessId(), attempt)) break;
    if (CreateDirectoryA(folder, nullptr)) {
      // Unrecorded (no data folder, a record that cannot be written) it is
      // still made: the next action then leaves it, as it leaves anything unproven.
      FileIdentity identity = {};
      RecordPrivateFolder(folder, madeAt, &identity);
      return true;
    }
    if (GetLastError() != ERROR_ALREADY_EXISTS) break;
  }
  folder[0] = '\0';
  return false;
}

bool ParsePrivateFolderName(const char* name, DWORD* process) {
  size_t prefixLength = strlen(kPrivatePrefix);
  if (strncmp(name, kPrivatePrefix, prefixLength) != 0) return false;
  // Only the form MakePrivateFolder writes: decimal digits, no sign, no
  // leading zero, no blank, nothing after the second number.
  const char* p = name + prefixLength;
  char* end = nullptr;
  unsigned long number = (*p >= '0' && *p <= '9') ? strtoul(p, &end, 10) : 0;
  if (end == nullptr || *end != '-' || end[1] < '0' || end[1] > '9') return false;
  unsigned long attempt = strtoul(end + 1, nullptr, 10);
  char canonical[kPathSize];
  if (!FormatText(canonical, sizeof canonical, "%s%lu-%lu", kPrivatePrefix, number, attempt) ||
      strcmp(canonical, name) != 0) {
    return false;
  }
  *process = static_cast<DWORD>(number);
  return true;
}

// --- Removal -----------------------------------------------------------------

// Everything in a private folder is the plug-in's: a read-only file (an
// archive's entry) goes all the same. A link stays a link: its target is
// never touched.
static TryResult DeleteInPrivateFolder(const char* path) {
  HoldRetry once = {};
  TryResult deleted = TryDeleteFile(path, &once);
  DWORD attributes = GetFileAttributesA(path);
  if (deleted != kTryFailed || attributes == INVALID_FILE_ATTRIBUTES ||
      (attributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) ||
      !(attributes & FILE_ATTRIBUTE_READONLY)) {
    return deleted;
  }
  SetFileAttributesA(path, attributes & ~FILE_ATTRIBUTE_READONLY);
  HoldRetry again = {};
  return TryDeleteFile(path, &again);
}

static WalkAnswer RemoveEntry(void* context, WalkedEntry* entry) {
  FolderRemoval* removal = static_cast<FolderRemoval*>(context);
  // What cannot be named is left alone.
  if (entry->path == nullptr) return kWalkOn;
  if (IsFolderEntry(*entry->found)) {
    if (!IsFolderLink(entry->found->dwFileAttributes)) return kWalkDescend;
    HoldRetry once = {};
    TryRemoveOwnFolder(entry->path, &once);
    return kWalkOn;
  }
  if (DeleteInPrivateFolder(entry->path) == kTryLater && removal->held != nullptr) {
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
  CopyText(removal->folder, sizeof removal->folder, folder);
  // Known by its slot: the folder's own identity would cost a trip to the
  // volume under Wine. A folder no slot names is forgotten by nobody.
  OwnSlot slot = {};
  char path[kPathSize];
  removal->identified = CopyText(path, sizeof path, folder) && EndsWithBackslash(path) &&
                        (path[strlen(path) - 1] = '\0', FindOwnSlot(path, &slot));
  removal->identity = slot.identity;
  // Its maker is done with it: from now on another action may take it back.
  if (removal->identified) MarkFolderInUse(removal->identity, false);
  removal->underWay = StartTreeWalk(&removal->walk, folder, 0);
}

bool StepFolderRemoval(FolderRemoval* removal, int maxEntries) {
  if (!removal->underWay) return true;
  if (StepTreeWalk(&removal->walk, maxEntries, {RemoveEntry, LeaveFolder, removal})) {
    EndTreeWalk(&removal->walk);
    removal->underWay = false;
    // A private folder made inside it (a copy's, when its name was taken) went with it.
    ForgetOwnSlotsGoneBelow(removal->folder);
    if (removal->identified && GetFileAttributesA(removal->folder) == INVALID_FILE_ATTRIBUTES) {
      ForgetOwnSlot(removal->identity);
    }
  }
  return !removal->underWay;
}

void EndFolderRemoval(FolderRemoval* removal) {
  while (!StepFolderRemoval(removal, INT_MAX)) {
  }
}

bool RemoveFolderTree(const char* path) {
  char folder[kPathSize];
  if (!CopyText(folder, sizeof folder, path) || !EnsureTrailingBackslash(folder, sizeof folder)) return false;
  DWORD attributes = GetFileAttributesA(folder);
  if (attributes == INVALID_FILE_ATTRIBUTES) return true;
  if (!(attributes & FILE_ATTRIBUTE_DIRECTORY)) return false;
  FileIdentity identity = {};
  bool identified = false;
  if (!IsFolderLink(attributes)) {
    FolderRemoval removal;
    StartFolderRemoval(&removal, folder, nullptr, nullptr);
    identity = removal.identity;
    identified = removal.identified;
    EndFolderRemoval(&removal);
  }
  folder[strlen(folder) - 1] = '\0';
  HoldRetry once = {};
  bool gone = TryRemoveOwnFolder(folder, &once) == kTryDone;
  if (gone && identified) ForgetOwnSlot(identity);
  return gone;
}
