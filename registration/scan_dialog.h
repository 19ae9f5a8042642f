// The add-ROMs run: the modal "CVADDDLG" dialog driven by timer ticks.
#pragma once
#include <windows.h>

#include <cstdint>

#include "registration/register_file.h"
#include "registration/relation_file.h"

enum ScanPhase : int32_t {
  kPhaseIdle = 0,     // no run is live
  kPhaseCollect = 1,  // listing the folders and counting their files
  kPhaseProcess = 2,  // registering the files, folder by folder
  kPhaseFinish = 3,   // all folders done: the next tick ends the run
};

// The run's process-wide state; there is only ever one run (the dialog is modal).
struct RegistrationScan {
  ScanPhase scanPhase;
  int32_t totalFiles;      // files counted in phase 1
  int32_t processedFiles;  // files registered with a relation line
  int32_t folderIndex;     // the folder list entry being processed
  HANDLE folderSearch;     // open search over that folder, or INVALID_HANDLE_VALUE
  WIN32_FIND_DATAA currentEntry;
  RegisterResult lastResult;  // of the last RegisterRomFile call
  int32_t failedAttempts;     // consecutive kRegisterArchiveRefused results for currentEntry
  bool fileInHand;            // RegisterRomFile is running (the host may pump messages)
  bool cancelRequested;       // Cancel pressed while a file was in hand
  RelationFile relation;      // this run's relation lines, aside until the run ends
};

extern RegistrationScan gScan;

INT_PTR CALLBACK RegistrationDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);

// Test switch: the longest a tick works before it lets the dialog breathe, in
// milliseconds; 0 handles one directory entry per tick (the whole folder walk
// still in one). Negative restores the default.
void SetScanSliceMs(int32_t milliseconds);
