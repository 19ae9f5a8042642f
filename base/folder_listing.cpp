#include "base/folder_listing.h"

#include <cstring>
#include <cwchar>

#include "base/text.h"

static bool IsDotEntry(const char* name) { return strcmp(name, ".") == 0 || strcmp(name, "..") == 0; }

// The name in the ANSI code page, the one every "A" call reads names in. True
// only when it comes back to the same wide name: no "?" for a character the
// code page lacks, no look-alike put in its place (é read as e), and it fits.
static bool CarryName(const wchar_t* wide, char* name, size_t size) {
  BOOL usedDefault = FALSE;
  int length = WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, wide, -1, name, static_cast<int>(size), "?",
                                   &usedDefault);
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

bool OpenListing(FolderListing* listing, const char* prefix) {
  CloseListing(listing);
  char pattern[kPathSize];
  wchar_t widePattern[kPathSize];
  if (!FormatText(pattern, sizeof pattern, "%s*.*", prefix)) {
    SetLastError(ERROR_FILENAME_EXCED_RANGE);
    return false;
  }
  // A path in the ANSI code page never takes more wide characters than bytes.
  if (MultiByteToWideChar(CP_ACP, 0, pattern, -1, widePattern, kPathSize) == 0) return false;
  listing->prefixLength = strlen(prefix);
  WIN32_FIND_DATAW found;
  listing->search = FindFirstFileW(widePattern, &found);
  listing->pending = listing->search != INVALID_HANDLE_VALUE;
  if (listing->pending) HandOut(listing, found);
  return listing->pending;
}

bool NextListedEntry(FolderListing* listing) {
  if (listing->search == INVALID_HANDLE_VALUE) return false;
  for (;;) {
    if (listing->pending) {
      listing->pending = false;
    } else {
      WIN32_FIND_DATAW found;
      if (!FindNextFileW(listing->search, &found)) return false;
      HandOut(listing, found);
    }
    if (!IsDotEntry(listing->entry.cFileName)) return true;
  }
}

void CloseListing(FolderListing* listing) {
  if (listing->search != INVALID_HANDLE_VALUE && listing->search != nullptr) FindClose(listing->search);
  listing->search = INVALID_HANDLE_VALUE;
  listing->pending = false;
}
