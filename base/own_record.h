// The record of what the plug-in made and must take back ("Corvane.own" in the
// data folder), kept through a kill: the copy in hand, copies another program
// held past their tries, and private folders. It says where to look, never
// what to do: each slot holds the identity of what was made and a checksum of
// itself, and the start of the next action proves both, and where the path
// lies, before it touches anything (leftovers.h).
#pragma once
#include <windows.h>

#include <cstdint>

#include "base/file_identity.h"
#include "base/held_files.h"
#include "base/text.h"

// The record's name in the data folder.
constexpr char kOwnRecordName[] = "Corvane.own";

enum OwnKind : uint32_t {
  kOwnFree = 0,
  kOwnFile = 0x31464F43,    // "COF1"
  kOwnFolder = 0x31444F43,  // "COD1"
  // Written just before a file is made, and then replaced by its kOwnFile
  // slot: a kill between the make and that write leaves an empty file made
  // at the path after madeAt, which is all this slot proves.
  kOwnIntent = 0x31494F43,  // "COI1"
};

// One slot as it lies in the record, written whole with one WriteFile.
struct OwnSlot {
  uint32_t kind;
  FileIdentity identity;
  int64_t mostBytes;      // a file's size once whole: after that it only shrinks (a cut, a kill)
  uint32_t processId;     // a folder's maker
  FILETIME processStart;  // when that process started
  FILETIME madeAt;        // when the folder was made
  char path[kPathSize];
  uint32_t checksum;  // of every byte before it
};

// Puts slot's checksum in place; whether a slot read back still holds it.
void SealOwnSlot(OwnSlot* slot);
bool IsOwnSlotSound(const OwnSlot& slot);

// Creates path anew for the plug-in (TryCreateNewFile), and once it stands
// records it with its identity and mostBytes, the most it will hold: one write
// of the record, into the slot of a file already gone where there is one.
// Once a folder has refused a create for good, every later create in it fails
// at once until the record closes at the action's end. Without a data folder
// the file is made unrecorded.
TryResult TryCreateOwnFile(const char* path, DWORD access, DWORD flags, long long mostBytes, HoldRetry* retry,
                           HANDLE* created);

// Makes path a hard link to target for the plug-in and records it as
// TryCreateOwnFile records a file: the link has the target's identity, read
// from targetOpen (target, open), and deleting it takes only its name. False,
// the last error set, when no link could be made.
bool CreateOwnLink(const char* path, const char* target, HANDLE targetOpen, long long mostBytes);

// Readies the record for something about to be made in folder (ending with
// "\"), so that recording it afterwards is one write and nothing more.
void PrepareToRecordIn(const char* folder);

// Records the private folder just made at path (ending with "\" or not), with
// this process and the time it was made, and keeps it from the start of
// another action until its removal begins (MarkFolderInUse).
bool RecordPrivateFolder(const char* path, const FILETIME& madeAt, FileIdentity* identity);

// The live slot recorded for path, if any.
bool FindOwnSlot(const char* path, OwnSlot* slot);

// What was recorded with identity is gone, or was never ours: its slot is free
// for the next record. Nothing is written now; the next record overwrites the
// slot, and the record's close clears what is left.
void ForgetOwnSlot(const FileIdentity& identity);

// The same for the intent slot of path (it has no identity yet).
void ForgetOwnIntent(const char* path);

// The same for every slot below folder (ending with "\") whose file or
// folder is gone: what a private folder's removal took with it.
void ForgetOwnSlotsGoneBelow(const char* folder);

// A private folder of this process's that its maker (a launch's worker, the
// run) still works in: the start of another action leaves it alone.
void MarkFolderInUse(const FileIdentity& identity, bool inUse);
bool IsFolderInUse(const FileIdentity& identity);

// This process's start, as GetProcessTimes gives it.
FILETIME ProcessStartTime();

// The sound slots of the data folder's record, up to max; slots that do not
// hold their checksum are forgotten. 0 without a record.
int ReadOwnSlots(OwnSlot* slots, int max);

// Closes the record at an action's end: an empty one is deleted, and the
// slots of files that are gone are cleared.
void CloseOwnRecord();
