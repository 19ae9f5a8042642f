// The add-ROMs run: the modal "CVADDDLG" dialog driven by timer ticks.
#pragma once
#include <windows.h>

#include <cstdint>
#include <cstdio>

// The run's process-wide state; there is only ever one run (the dialog is modal).
struct RegistrationScan {
  int32_t scanPhase;       // 1 collect, 2 process, 3 finish; 0 when no run is live
  int32_t totalFiles;      // files counted in phase 1
  int32_t processedFiles;  // files registered with a relation line
  int32_t folderIndex;     // the folder list entry being processed
  HANDLE folderSearch;     // open search over that folder, or INVALID_HANDLE_VALUE
  bool folderUnlisted;     // its search could not be started: pass it over
  WIN32_FIND_DATAA currentEntry;
  int32_t lastResult;      // of the last RegisterRomFile call
  int32_t failedAttempts;  // consecutive -1 results for currentEntry
  bool fileInHand;         // RegisterRomFile is running (the host may pump messages)
  bool cancelRequested;    // Cancel pressed while a file was in hand
  FILE* relationStream;    // the relation file, open from the end of phase 1
};

extern RegistrationScan gScan;

INT_PTR CALLBACK RegistrationDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);
