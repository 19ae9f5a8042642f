// The work before a launch that may take long, off the host's window thread:
// the extraction (through a private folder, skipped when the files an earlier
// launch extracted from the same, unchanged archive are all still there as it
// left them), and the check of a file reached through a short name.
#pragma once

#include "base/text.h"

enum LaunchPrepared {
  kLaunchReady = 0,
  kLaunchFailed = -1,        // nothing to launch; a box said why where it could
  kLaunchArchiverBusy = -2,  // the archiver is at work for someone else
  kLaunchAbandoned = 1,      // the host closed the plug-in meanwhile
};

// What is to be made ready.
struct LaunchRequest {
  const char* sourcePath;  // the relation line's file
  bool extract;            // an archive, extracted into the profile's extraction folder
  const char* crcText;     // when not null: the launched file must still have this CRC after the header
};

// Makes the file to launch ready and puts its path into launchPath (a 260-byte
// buffer): the source path, or the archive's first entry in the extraction
// folder. The host's window is disabled and keeps being painted meanwhile
// (a small window shows when it lasts); nothing of the host is called. A
// failure the user can act on (no room, a path too long, a file in use, a
// changed file) is named in a box owned by the host's window.
LaunchPrepared PrepareLaunch(const LaunchRequest& request, char* launchPath);

// How many workers have not ended yet, an abandoned one's included. While one
// runs, PrepareLaunch answers kLaunchArchiverBusy.
int LaunchWorkersRunning();

// Called when the host closes the plug-in: a launch waiting for its worker
// returns kLaunchAbandoned at once, and the worker puts nothing in place.
void AbandonWaitingLaunch();
