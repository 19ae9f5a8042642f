#include "base/folder_listing.h"

#include <cstring>

#include "base/text.h"

static bool IsDotEntry(const char* name) { return strcmp(name, ".") == 0 || strcmp(name, "..") == 0; }

bool OpenListing(FolderListing* listing, const char* prefix) {
  CloseListing(listing);
  char pattern[kPathSize];
  if (!FormatText(pattern, sizeof pattern, "%s*.*", prefix)) {
    SetLastError(ERROR_FILENAME_EXCED_RANGE);
    return false;
  }
  listing->search = FindFirstFileA(pattern, &listing->entry);
  listing->pending = listing->search != INVALID_HANDLE_VALUE;
  return listing->pending;
}

bool NextListedEntry(FolderListing* listing) {
  if (listing->search == INVALID_HANDLE_VALUE) return false;
  for (;;) {
    if (listing->pending) {
      listing->pending = false;
    } else if (!FindNextFileA(listing->search, &listing->entry)) {
      return false;
    }
    if (!IsDotEntry(listing->entry.cFileName)) return true;
  }
}

void CloseListing(FolderListing* listing) {
  if (listing->search != INVALID_HANDLE_VALUE && listing->search != nullptr) FindClose(listing->search);
  listing->search = INVALID_HANDLE_VALUE;
  listing->pending = false;
}
