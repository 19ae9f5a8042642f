#include "profile/active_dataset.h"

#include <windows.h>

#include <cstring>

#include "base/state.h"

// The first visible combo boxes, in the order the host's windows are listed.
struct ComboCandidates {
  static constexpr int kMax = 10;
  HWND windows[kMax];
  int count;
};

static BOOL CALLBACK CollectComboCandidate(HWND window, LPARAM param) {
  ComboCandidates* candidates = reinterpret_cast<ComboCandidates*>(param);
  char className[1024];
  if (GetClassNameA(window, className, sizeof className) > 0 && strcmp(className, "TComboBox") == 0 &&
      IsWindowVisible(window) && candidates->count < ComboCandidates::kMax) {
    candidates->windows[candidates->count++] = window;
  }
  return TRUE;
}

void FindActiveDatasetName() {
  HWND active = GetActiveWindow();
  if (active == nullptr) return;
  ComboCandidates candidates = {};
  EnumChildWindows(active, CollectComboCandidate, reinterpret_cast<LPARAM>(&candidates));
  HWND chosen = nullptr;
  LONG bestWidth = 0;
  for (int i = 0; i < candidates.count; ++i) {
    RECT client = {};
    if (GetClientRect(candidates.windows[i], &client) && client.right > bestWidth) {
      chosen = candidates.windows[i];
      bestWidth = client.right;
    }
  }
  if (chosen != nullptr) {
    SendMessageA(chosen, WM_GETTEXT, sizeof gState.datasetName, reinterpret_cast<LPARAM>(gState.datasetName));
  }
}
