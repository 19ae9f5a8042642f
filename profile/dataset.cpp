// Finding the host's current dataset and keeping its profile file.
#include <windows.h>
#include <shlwapi.h>

#include <cstdio>
#include <cstring>

#include "base/file_io.h"
#include "base/state.h"
#include "profile/profile.h"

static constexpr int kMaxComboCandidates = 10;
static HWND comboCandidates[kMaxComboCandidates];
static int comboCandidateCount;

static BOOL CALLBACK CollectComboCandidate(HWND window, LPARAM) {
  char className[1024];
  if (GetClassNameA(window, className, sizeof className) > 0 && strcmp(className, "TComboBox") == 0 &&
      IsWindowVisible(window) && comboCandidateCount < kMaxComboCandidates) {
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
    SendMessageA(chosen, WM_GETTEXT, sizeof gState.datasetName, reinterpret_cast<LPARAM>(gState.datasetName));
  }
}

// Names that Windows opens as devices in any folder, whatever follows them after
// a dot: a read of "con.fol" waits on the console, "NUL.rel" swallows every line.
static const char* const kDeviceNames[] = {"CON",  "PRN",  "AUX",  "NUL",  "CONIN$", "CONOUT$", "COM1", "COM2",
                                           "COM3", "COM4", "COM5", "COM6", "COM7",   "COM8",    "COM9", "LPT1",
                                           "LPT2", "LPT3", "LPT4", "LPT5", "LPT6",   "LPT7",    "LPT8", "LPT9"};

// component is length bytes long (no separator inside). Its stem, up to the
// first dot and without trailing blanks (which Windows drops), decides.
static bool IsDeviceName(const char* component, size_t length) {
  size_t stem = 0;
  while (stem < length && component[stem] != '.') ++stem;
  while (stem > 0 && component[stem - 1] == ' ') --stem;
  for (const char* device : kDeviceNames) {
    if (strlen(device) == stem && _strnicmp(component, device, stem) == 0) return true;
  }
  return false;
}

// A dataset name is joined to the data directory verbatim ("NES\Japan" names a
// file in a subfolder), but never so that the file lands outside it or on a device.
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
      size_t length = static_cast<size_t>(p - component);
      if (length == 2 && component[0] == '.' && component[1] == '.') return false;
      if (IsDeviceName(component, length)) return false;
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

// A folder ending in a double-byte character whose trail byte is 0x5C ("表")
// can be found in a profile file without its final "\", which a byte-wise test
// took that trail byte for; it gets it here, as the ROM folder gets it when it
// is used.
static void MendFinalBackslash(char* folder) {
  size_t length = strlen(folder);
  if (length > 0 && folder[length - 1] == '\\' && !EndsWithBackslash(folder)) {
    EnsureTrailingBackslash(folder, kPathSize);
  }
}

void LoadDatasetProfile() {
  char path[kPathSize];
  if (!DatasetFilePath(path, sizeof path, ".fol")) return;
  if (!PathFileExistsA(path)) return;
  FILE* file = fopen(path, "rb");
  if (file == nullptr) return;
  // A short file replaces the leading fields it holds and leaves the rest.
  DatasetProfile& profile = gState.profile;
  if (fread(&profile.headerSize, 1, 4, file) == 4 && fread(profile.romFolder, 1, kPathSize, file) == kPathSize &&
      fread(&profile.depthChoice, 1, 4, file) == 4 && fread(&profile.extractOnLaunch, 1, 4, file) == 4) {
    fread(profile.extractFolder, 1, kPathSize, file);
  }
  TerminateRecord(profile.romFolder, sizeof profile.romFolder);
  TerminateRecord(profile.extractFolder, sizeof profile.extractFolder);
  MendFinalBackslash(profile.extractFolder);
  fclose(file);
}

// The 532 bytes are written aside and put in place in one step: a failed save
// leaves the previous profile file whole.
int SaveDatasetProfile() {
  char path[kPathSize];
  if (!DatasetFilePath(path, sizeof path, ".fol")) return -1;
  const DatasetProfile& profile = gState.profile;
  char record[kProfileFileSize];
  char* at = record;
  memcpy(at, &profile.headerSize, 4);
  memcpy(at += 4, profile.romFolder, kPathSize);
  memcpy(at += kPathSize, &profile.depthChoice, 4);
  memcpy(at += 4, &profile.extractOnLaunch, 4);
  memcpy(at += 4, profile.extractFolder, kPathSize);
  return ReplaceFileWhole(path, record, sizeof record, kWriteProfile) ? 0 : -1;
}
