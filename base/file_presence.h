// Whether a file named earlier is known to be gone. "Not found" alone says
// nothing: an unplugged disk, an empty card reader, a share that does not
// answer or a device that is not ready give it too. A file is gone only when
// it is not found while its volume's root can be read.
#pragma once
#include "base/text.h"

// The last volume asked about, so that a list of paths on one drive or share
// asks it once: a share that does not answer can take seconds each time.
struct VolumeAnswer {
  char root[kPathSize] = "";
  bool answers = false;
};

bool IsKnownGone(const char* path, VolumeAnswer* last);
