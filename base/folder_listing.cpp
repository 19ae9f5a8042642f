#include "base/folder_listing.h"

#include <cstdlib>
#include <cstring>
#include <cwchar>
#include <string>

#include "base/test_switches.h"
#include "base/text.h"

static bool IsDotEntry(const char* name) { return strcmp(name, ".") == 0 || strcmp(name, "..") == 0; }

// The name in the ANSI code page, the one every "A" call reads names in. True
// only when it comes back to the same wide name: no "?" for a character the
// code page lacks, no look-alike put in its place (é read as e), and it fits.
static bool CarryName(const wchar_t* wide, char* name, size_t size) {
  BOOL usedDefault = FALSE;
  int length =
      WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, wide, -1, name, static_cast<int>(size), "?", &usedDefault);
  if (length == 0) {
    CopyText(name, size, "?");
    return false;
  }
  wchar_t back[MAX_PATH];
  return !usedDefault && MultiByteToWideChar(CP_ACP, MB_ERR_INVALID_CHARS, name, -1, back, MAX_PATH) != 0 &&
         wcscmp(back, wide) == 0;
}

// The name with each character the code page does not carry exactly as "?",
// and a "?" where it is cut: never a look-alike that could open another file.
static void MarkLostCharacters(const wchar_t* wide, char* name, size_t size) {
  size_t used = 0;
  const wchar_t* at = wide;
  while (*at != L'\0' && used + 3 <= size) {
    int units = IS_HIGH_SURROGATE(at[0]) && IS_LOW_SURROGATE(at[1]) ? 2 : 1;
    char bytes[8];
    wchar_t back[2];
    BOOL usedDefault = FALSE;
    int length = WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, at, units, bytes, sizeof bytes, "?", &usedDefault);
    bool exact = length > 0 && !usedDefault && MultiByteToWideChar(CP_ACP, 0, bytes, length, back, 2) == units &&
                 memcmp(back, at, units * sizeof *at) == 0;
    if (!exact) {
      bytes[0] = '?';
      length = 1;
    }
    memcpy(name + used, bytes, static_cast<size_t>(length));
    used += static_cast<size_t>(length);
    at += units;
  }
  if (*at != L'\0') name[used++] = '?';
  name[used] = '\0';
}

// The entry as the ANSI calls know it, named as OpenListing says.
static void HandOut(FolderListing* listing, const WIN32_FIND_DATAW& found) {
  WIN32_FIND_DATAA* entry = &listing->entry;
  entry->dwFileAttributes = found.dwFileAttributes;
  entry->ftCreationTime = found.ftCreationTime;
  entry->ftLastAccessTime = found.ftLastAccessTime;
  entry->ftLastWriteTime = found.ftLastWriteTime;
  entry->nFileSizeHigh = found.nFileSizeHigh;
  entry->nFileSizeLow = found.nFileSizeLow;
  entry->dwReserved0 = found.dwReserved0;
  entry->dwReserved1 = found.dwReserved1;
  bool carried = CarryName(found.cFileName, entry->cFileName, sizeof entry->cFileName);
  bool shortCarried = found.cAlternateFileName[0] != L'\0' &&
                      CarryName(found.cAlternateFileName, entry->cAlternateFileName, sizeof entry->cAlternateFileName);
  if (!shortCarried) entry->cAlternateFileName[0] = '\0';
  // A folder's own listing adds "\*.*" to its path.
  size_t room = kPathSize - listing->prefixLength - ((found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) ? 4 : 0);
  if (shortCarried && (!carried || strlen(entry->cFileName) >= room)) {
    CopyText(entry->cFileName, sizeof entry->cFileName, entry->cAlternateFileName);
  } else if (!carried) {
    MarkLostCharacters(found.cFileName, entry->cFileName, sizeof entry->cFileName);
  }
}

// One block of entries: as large as the system's own search takes, so that
// no folder costs more calls to list.
static constexpr DWORD kListingBlockSize = 16 * 1024;

// The next entry in the wide form a directory search gives; false at the end
// or when the folder cannot be read on.
static bool TakeEntry(FolderListing* listing, WIN32_FIND_DATAW* found) {
  if (listing->byFind) {
    listing->entryIndex = 0;
    return FindNextFileW(listing->search, found) != 0;
  }
  if (listing->next == nullptr) {
#ifdef CORVANE_TEST_SWITCHES
    if (gTestSwitches.listingIndexesRefused) {
      SetLastError(ERROR_INVALID_PARAMETER);
      return false;
    }
#endif
    if (!GetFileInformationByHandleEx(listing->search, FileIdBothDirectoryInfo, listing->buffer, kListingBlockSize)) {
      return false;
    }
    listing->next = listing->buffer;
  }
  const FILE_ID_BOTH_DIR_INFO* info = reinterpret_cast<const FILE_ID_BOTH_DIR_INFO*>(listing->next);
  listing->next = info->NextEntryOffset != 0 ? listing->next + info->NextEntryOffset : nullptr;
  *found = WIN32_FIND_DATAW();
  found->dwFileAttributes = info->FileAttributes;
  found->ftCreationTime = {info->CreationTime.LowPart, static_cast<DWORD>(info->CreationTime.HighPart)};
  found->ftLastAccessTime = {info->LastAccessTime.LowPart, static_cast<DWORD>(info->LastAccessTime.HighPart)};
  found->ftLastWriteTime = {info->LastWriteTime.LowPart, static_cast<DWORD>(info->LastWriteTime.HighPart)};
  found->nFileSizeHigh = static_cast<DWORD>(info->EndOfFile.HighPart);
  found->nFileSizeLow = info->EndOfFile.LowPart;
  // A search reports a link's kind here, as the volume gives it in place of
  // extended attributes.
  if (info->FileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) found->dwReserved0 = info->EaSize;
  // A name longer than a path can hold is cut, and then opens nothing.
  size_t length = info->FileNameLength / sizeof(WCHAR);
  if (length >= MAX_PATH) length = MAX_PATH - 1;
  memcpy(found->cFileName, info->FileName, length * sizeof(WCHAR));
  size_t shortLength = static_cast<unsigned char>(info->ShortNameLength) / sizeof(WCHAR);
  if (shortLength > 12) shortLength = 12;
  memcpy(found->cAlternateFileName, info->ShortName, shortLength * sizeof(WCHAR));
  listing->entryIndex = info->FileId.QuadPart;
  return true;
}

// What a volume answers when it does not know the kind of listing asked.
static bool IsClassRefused(DWORD error) {
  return error == ERROR_INVALID_PARAMETER || error == ERROR_INVALID_LEVEL || error == ERROR_NOT_SUPPORTED ||
         error == ERROR_INVALID_FUNCTION || error == ERROR_CALL_NOT_IMPLEMENTED;
}

bool OpenListing(FolderListing* listing, const char* prefix) {
  CloseListing(listing);
  char pattern[kPathSize];
  wchar_t folder[kPathSize];
  // The pattern a search would take must fit, as every entry's path is made
  // from it.
  if (!FormatText(pattern, sizeof pattern, "%s*.*", prefix)) {
    SetLastError(ERROR_FILENAME_EXCED_RANGE);
    return false;
  }
  // A path in the ANSI code page never takes more wide characters than bytes.
  if (MultiByteToWideChar(CP_ACP, 0, prefix, -1, folder, kPathSize) == 0) return false;
  listing->buffer = static_cast<BYTE*>(malloc(kListingBlockSize));
  if (listing->buffer == nullptr) {
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return false;
  }
  // Others may still rename or delete the folder while it is listed.
  listing->search =
      CreateFileW(folder, FILE_LIST_DIRECTORY | SYNCHRONIZE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                  nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (listing->search == INVALID_HANDLE_VALUE) {
    DWORD error = GetLastError();
    CloseListing(listing);
    SetLastError(error);
    return false;
  }
  listing->prefixLength = strlen(prefix);
  WIN32_FIND_DATAW found;
  listing->pending = TakeEntry(listing, &found);
  DWORD error = listing->pending ? ERROR_SUCCESS : GetLastError();
  if (IsClassRefused(error)) {
    CloseHandle(listing->search);
    listing->byFind = true;
    listing->search = FindFirstFileW((std::wstring(folder) + L"*.*").c_str(), &found);
    listing->pending = listing->search != INVALID_HANDLE_VALUE;
    error = listing->pending ? ERROR_SUCCESS : GetLastError();
  }
  if (!listing->pending) {
    // An empty drive root has not even "." to list: a first query then finds
    // no such file, a later one no more files.
    if (error == ERROR_NO_MORE_FILES || error == ERROR_FILE_NOT_FOUND) return true;
    CloseListing(listing);
    SetLastError(error);
    return false;
  }
  HandOut(listing, found);
  return true;
}

bool NextListedEntry(FolderListing* listing) {
  if (listing->search == INVALID_HANDLE_VALUE) return false;
  for (;;) {
    if (listing->pending) {
      listing->pending = false;
    } else {
      WIN32_FIND_DATAW found;
      if (!TakeEntry(listing, &found)) return false;
      HandOut(listing, found);
    }
    if (!IsDotEntry(listing->entry.cFileName)) return true;
  }
}

void CloseListing(FolderListing* listing) {
  if (listing->search != INVALID_HANDLE_VALUE && listing->search != nullptr) {
    if (listing->byFind) {
      FindClose(listing->search);
    } else {
      CloseHandle(listing->search);
    }
  }
  free(listing->buffer);
  listing->search = INVALID_HANDLE_VALUE;
  listing->buffer = nullptr;
  listing->next = nullptr;
  listing->entryIndex = 0;
  listing->pending = false;
  listing->byFind = false;
}

// The one entry of folder (a wide path ending in "\") whose name marks to
// marked, by the name the ANSI calls open it by: its own where the code page
// carries it, else its short name. False (the last error set) when none does,
// more than one does, or the short name is missing.
static bool FindMarkedEntry(const std::wstring& folder, const char* marked, char* openable, size_t size) {
  WIN32_FIND_DATAW found;
  HANDLE search = FindFirstFileW((folder + L"*").c_str(), &found);
  if (search == INVALID_HANDLE_VALUE) return false;
  int matches = 0;
  bool spelt = false;
  do {
    char name[kPathSize];
    MarkLostCharacters(found.cFileName, name, sizeof name);
    if (strcmp(name, marked) != 0) continue;
    // Enough to refuse: a second match makes the name ambiguous.
    if (++matches > 1) break;
    spelt = CarryName(found.cFileName, openable, size) ||
            (found.cAlternateFileName[0] != L'\0' && CarryName(found.cAlternateFileName, openable, size));
  } while (FindNextFileW(search, &found));
  FindClose(search);
  if (matches == 1 && spelt) return true;
  SetLastError(matches == 0  ? ERROR_FILE_NOT_FOUND
               : matches > 1 ? ERROR_AMBIGUOUS_SYSTEM_DEVICE
                             : ERROR_NO_UNICODE_TRANSLATION);
  return false;
}

bool SpellOpenablePath(char* path, size_t size) {
  if (strchr(path, '?') == nullptr) return true;
  char spelt[kPathSize] = "";
  size_t used = 0;
  for (const char* component = path; *component != '\0';) {
    const char* end = component;
    while (*end != '\0' && *end != '\\') end = CharNextExA(CP_ACP, end, 0);
    char name[kPathSize];
    if (!FormatText(name, sizeof name, "%.*s", static_cast<int>(end - component), component)) return false;
    char openable[kPathSize];
    if (strchr(name, '?') != nullptr) {
      wchar_t folder[MAX_PATH];
      if (used == 0 || MultiByteToWideChar(CP_ACP, 0, spelt, -1, folder, MAX_PATH) == 0 ||
          !FindMarkedEntry(folder, name, openable, sizeof openable)) {
        if (used == 0) SetLastError(ERROR_INVALID_NAME);
        return false;
      }
    } else {
      CopyText(openable, sizeof openable, name);
    }
    if (!FormatText(spelt + used, sizeof spelt - used, "%s%s", openable, *end != '\0' ? "\\" : "")) {
      SetLastError(ERROR_FILENAME_EXCED_RANGE);
      return false;
    }
    used += strlen(spelt + used);
    component = *end != '\0' ? end + 1 : end;
  }
  if (!CopyText(path, size, spelt)) return false;
  return true;
}
