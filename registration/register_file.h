// One found file of the registration run: a header-stripped copy in the temp
// folder, its CRC text, the host's registration and the relation file line.
#pragma once
#include <windows.h>

#include <cstdint>

struct RegistrationRun;

// What became of one file.
enum RegisterResult : int32_t {
  kRegisterDone = 0,
  // The archiver could not open or close the archive: offered again later.
  kRegisterArchiveRefused = -1,
  // The archiver is busy, or another program holds the source (or the copy's
  // name) for now: nothing is lost, the same entry is offered again on a later
  // tick, or (when BeginRomFile left the file in hand) ContinueRomFile goes on
  // with it there.
  kRegisterTryLater = -2,
  // Not registered with a line, and offering it again would not help: no
  // copy, a path too long, a file of our own temporary folder; or the relation
  // file failed, the host may then have the copy, and the run ends.
  kRegisterPassedOver = -3,
  // The copy is under way: ContinueRomFile goes on with it.
  kRegisterInProgress = 1,
};

// Starts on folderPath + entry->cFileName: an archive's first entry is
// extracted into a private folder of its own in the temp folder, and the copy
// of the ROM (or of that entry) is begun in the temp folder under the ROM's
// own name. When the file is passed over, *skipReason gets the reason's text
// for the run's list, or nullptr when the file is not the user's concern (a
// copy of our own, or the relation file failed, which the run reports itself).
RegisterResult BeginRomFile(RegistrationRun* run, HWND dialog, const char* folderPath, const WIN32_FIND_DATAA* entry,
                            const char** skipReason);

// Copies the next piece of the file in hand (or tries its open again, once
// due); once the copy is whole, hands it to the host, deletes it and writes the
// relation line. Results as above.
RegisterResult ContinueRomFile(RegistrationRun* run, const char** skipReason);

// Ends the file in hand early: a copy the host already has is finished (the
// copy deleted, its relation line written); any other is dropped, its partial
// copy removed. Harmless when no file is in hand.
void FinishOrDropRomFile(RegistrationRun* run);

// Removes a few more entries of the last archive's private folder. True once
// none is left; the next file waits until then. A file another program holds
// goes to the run's held copies rather than holding the removal up.
bool StepPrivateFolderRemoval(RegistrationRun* run);
