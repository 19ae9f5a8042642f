// What the dialog is to do after an event of the run: the machine returns it,
// the dialog does it.
#pragma once
#include <cstdint>

#include "base/text.h"

enum RunBox : int32_t {
  kBoxNone,
  kBoxCancelQuestion,  // OK/Cancel: IDOK cancels the run
  kBoxEndMessage,      // OK: one of the messages the run ends with
};

// What the dialog is to do after an event.
struct RunView {
  bool freed;        // the run is gone: the dialog forgets it and ends
  bool tick;         // the next tick is wanted; otherwise none is armed
  bool goOn;         // once shown, the slice goes on at once (TickRun), without waiting a tick
  bool showStatus;   // status holds the status line's new text
  bool showCounter;  // processed/total changed (or the run ends): shown as they are
  int32_t processed;
  int32_t total;
  char status[kPathSize];
  RunBox box;  // shown now; its answer goes to AnswerRunBox
  const char* boxText;
  const char* boxCaption;  // nullptr: the system's "Error"
};
