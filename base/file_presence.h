// Whether a file named earlier is still there. "Not found" alone says
// nothing: an unplugged disk (often mounted in a folder), an empty card
// reader, a share that does not answer or a device that is not ready give it
// too, and so does a folder a disk was mounted in, left empty or gone. A file
// is gone only when its volume answers and its own folder is there, can be
// listed, holds other entries, and lacks the name. A relative or drive-relative path ("P:roms\x.nes") names no
// place for sure and is never looked at in the current folder.
#pragma once
#include "base/text.h"

// What was learnt of volumes during one list of paths, so that each is asked
// once: a share that does not answer can take seconds each time.
struct VolumeAnswers {
  char folder[kPathSize] = "";  // the folder looked at last
  bool folderAnswers = false;   // it was listed and held something: proof of absence
  struct Volume {
    char path[kPathSize];  // as GetVolumePathNameA gives it, a mounted folder too
    bool answers;
  } volumes[8] = {};
  int count = 0;
  int next = 0;  // the entry replaced when all are taken
};

enum FilePresence {
  kFilePresent,
  kFileGone,
  kFileUnknown,  // its volume does not answer, the path is relative, or another error
};

// Looks at the file at path.
FilePresence ProbeFile(const char* path, VolumeAnswers* volumes);
