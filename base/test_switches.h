// Switches the tests turn to reach slow or failing paths deterministically.
// They exist only in the test build of the sources, which defines
// CORVANE_TEST_SWITCHES; the DLL that ships is compiled without them.
#pragma once
#ifdef CORVANE_TEST_SWITCHES
#include <cstddef>
#include <cstdint>

#include <windows.h>

#include "base/file_io.h"

struct TestSwitches {
  // The nth (1-based) checked write of a kind from now on fails with
  // ERROR_DISK_FULL, as a full disk would; 0 is off.
  int writeFault[kWriteKindCount] = {};
  // The longest a tick of the add-ROMs run works, in milliseconds; 0 handles
  // one directory entry or copy piece per tick. Negative: the run's own.
  int32_t sliceMs = -1;
  // The add-ROMs run's millisecond clock; null: the system's.
  DWORD (*runClock)(void) = nullptr;
  // Each piece of a copy, and each cut of a copy the host is done with, is at
  // most this many bytes; 0: the run's own sizes.
  size_t copyPieceSize = 0;
  // A file held as another program holds one: the next holdCount opens,
  // moves, deletes or replace checks on a path containing holdPathPart first
  // open it sharing read and write but not delete, and another thread closes
  // it holdMs later; a path not there yet is held once it appears. holdsOpen
  // counts the holds not yet released. New tests hold a file with the tests'
  // HoldFileFor instead, from outside the code that retries.
  char holdPathPart[MAX_PATH] = "";
  DWORD heldHashes[1024] = {};  // of the paths held so far
  int heldCount = 0;
  int holdCount = 0;
  DWORD holdMs = 0;
  volatile LONG holdsOpen = 0;
  // Creates of a path containing this part are refused with
  // ERROR_ACCESS_DENIED, as in a read-only folder; "" is off.
  char createRefusedPathPart[MAX_PATH] = "";
  // Folders are read as on a volume that does not give its entries with
  // their file indexes: the listing falls back to a directory search.
  bool listingIndexesRefused = false;
};

extern TestSwitches gTestSwitches;

// Every switch back to off, before each test, once the holds are released.
inline void ResetTestSwitches() {
  while (gTestSwitches.holdsOpen > 0) Sleep(5);
  gTestSwitches = TestSwitches();
}
#endif
