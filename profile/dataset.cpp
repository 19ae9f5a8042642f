// Finding the host's current dataset and keeping its profile file.
#include <windows.h>
#include <shlwapi.h>

#include <cstdio>
#include <cstring>

#include "base/state.h"
#include "profile/profile.h"

static constexpr int kMaxComboCandidates = 10;
static HWND comboCandidates[kMaxComboCandidates];
static int comboCandidateCount;

static BOOL CALLBACK CollectComboCandidate(HWND window, LPARAM) {
  char className[1024];
  if (GetClassNameA(window, className, sizeof className) > 0 &&
      strcmp(className, "TComboBox") == 0 && IsWindowVisible(window) &&
      comboCandidateCount < kMaxComboCandidates) {
    comboCandidates[comboCandidateCount++] = window;
  }
  return TRUE;
}

void FindActiveDatasetName() {
  comboCandidateCount = 0;
  HWND active = GetActiveWindow();
  if (active == nullptr) return;
  EnumChildWindows(active, CollectComboCandidate, 0);
  HWND chosen = nullptr;
  LONG bestWidth = 0;
  for (int i = 0; i < comboCandidateCount; ++i) {
    RECT client = {};
    if (GetClientRect(comboCandidates[i], &client) && client.right > bestWidth) {
      chosen = comboCandidates[i];
      bestWidth = client.right;
    }
  }
  if (chosen != nullptr) {
    SendMessageA(chosen, WM_GETTEXT, sizeof gState.datasetName,
                 reinterpret_cast<LPARAM>(gState.datasetName));
  }
}

// A dataset name is joined to the data directory verbatim ("NES\Japan" names a
// file in a subfolder), but never so that the file lands outside it.
static bool DatasetNameStaysInside(const char* name) {
  if (name[0] == '\\' || name[0] == '/') return false;
  if (strchr(name, ':') != nullptr) return false;
  const char* component = name;
  for (const char* p = name;; ++p) {
    if (IsDBCSLeadByte(static_cast<BYTE>(*p)) && p[1] != '\0') {
      ++p;
      continue;
    }
    if (*p == '\\' || *p == '/' || *p == '\0') {
      if (p - component == 2 && component[0] == '.' && component[1] == '.') return false;
      if (*p == '\0') break;
      component = p + 1;
    }
  }
  return true;
}

bool DatasetFilePath(char* path, size_t size, const char* extension) {
  if (!DatasetNameStaysInside(gState.datasetName) ||
      !FormatText(path, size, "%s%s%s", gState.dataDir, gState.datasetName, extension)) {
    path[0] = '\0';
    return false;
  }
  return true;
}

// A path field read from a file is used only up to its own end.
static void TerminateField(char* field) {
  if (memchr(field, '\0', kPathSize) == nullptr) field[kPathSize - 1] = '\0';
}

void LoadDatasetProfile() {
  char path[kPathSize];
  if (!DatasetFilePath(path, sizeof path, ".fol")) return;
  if (!PathFileExistsA(path)) return;
  FILE* file = fopen(path, "rb");
  if (file == nullptr) return;
  // A short file replaces the leading fields it holds and leaves the rest.
  DatasetProfile& profile = gState.profile;
  if (fread(&profile.headerSize, 1, 4, file) == 4 &&
      fread(profile.romFolder, 1, kPathSize, file) == kPathSize &&
      fread(&profile.depthChoice, 1, 4, file) == 4 &&
      fread(&profile.extractOnLaunch, 1, 4, file) == 4) {
    fread(profile.extractFolder, 1, kPathSize, file);
  }
  TerminateField(profile.romFolder);
  TerminateField(profile.extractFolder);
  fclose(file);
}

int SaveDatasetProfile() {
  char path[kPathSize];
  if (!DatasetFilePath(path, sizeof path, ".fol")) return -1;
  FILE* file = fopen(path, "wb");
  if (file == nullptr) return -1;
  const DatasetProfile& profile = gState.profile;
  bool written = fwrite(&profile.headerSize, 1, 4, file) == 4 &&
                 fwrite(profile.romFolder, 1, kPathSize, file) == kPathSize &&
                 fwrite(&profile.depthChoice, 1, 4, file) == 4 &&
                 fwrite(&profile.extractOnLaunch, 1, 4, file) == 4 &&
                 fwrite(profile.extractFolder, 1, kPathSize, file) == kPathSize;
  int closed = fclose(file);
  return written && closed == 0 ? 0 : -1;
}
