// What earlier actions left, taken back at every action's start (initPlugin,
// a run, a launch): only what the record of the plug-in's files (own_record.h)
// names and the file system proves at that moment.
#pragma once

// Settles each slot of the record. A slot is acted on only when its checksum
// holds, its path lies where the plug-in makes things (a file inside the temp
// folder, a private folder by its exact name) with no link or junction on the
// way, and what stands there now has the recorded identity; a private folder
// also only once its maker is gone (no process of that number, or one that
// started after the folder was made) or, in this process, nothing uses it any
// more. Anything else is left alone and its slot forgotten. What another
// program holds stays recorded for the next action; nothing waits on a hold,
// nothing is moved and nothing is shown.
void RemoveProvenLeftovers();
