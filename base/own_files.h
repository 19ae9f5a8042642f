// What the plug-in makes, and how it is taken back. The temp folder is shared
// (a launch may extract a user's files into it), so the plug-in never decides
// what is its own from what a folder holds: it knows its own files
//   - by name: a private folder "corvane-<process>-<n>" made fresh in the temp
//     folder for one extraction, removed whole;
//   - by a record that survives a kill ("Corvane.own" in the data folder): the
//     copy in hand, the copies another program held past their tries, and a
//     user's file a launch moved aside.
// Every action's start takes back what earlier ones left.
#pragma once
#include <windows.h>

#include <cstddef>

#include "base/held_files.h"
#include "base/text.h"
#include "base/tree_walk.h"

// The record's name in the data folder.
constexpr char kOwnRecordName[] = "Corvane.own";

// Makes a fresh, empty folder of the plug-in's in parent (ending with "\"); its
// path, with the final "\", goes into folder. False when none could be made.
bool MakePrivateFolder(const char* parent, char* folder, size_t size);

// A private folder's removal, a few entries per step, so that a dialog can
// spread a large one over its ticks. Nothing waits: a file another program
// holds is handed to held (which may try it again later) and its folders
// stay, for the next action to remove. A folder link inside is removed as a
// link, never followed.
struct FolderRemoval {
  TreeWalk walk;
  void (*held)(void* context, const char* path) = nullptr;  // may be null: the file is left
  void* heldContext = nullptr;
  bool underWay = false;
};

// Starts removing folder (ending with "\") and all below it. One still under
// way is ended first.
void StartFolderRemoval(FolderRemoval* removal, const char* folder, void (*held)(void* context, const char* path),
                        void* heldContext);
// Removes up to maxEntries entries. True when nothing is left to do.
bool StepLeftoverRemoval(FolderRemoval* removal, int maxEntries);
// Removes the rest at once. Harmless when nothing is under way.
void EndFolderRemoval(FolderRemoval* removal);
// The same at once, for a folder (with or without its final "\"), held files
// left. True when it is gone.
bool RemoveFolderTree(const char* path);

// The record. Each call keeps the record file in step at once (a write each);
// a path is recorded before the file is made and forgotten once it is gone.
// Harmless without a data folder (nothing is recorded then).
void RecordOwnFile(const char* path);
// A user's file moved aside to aside, to be put back at original.
void RecordAside(const char* aside, const char* original);
void ForgetOwnFile(const char* path);
// Closes the record at an action's end; an empty one is deleted.
void CloseOwnRecord();

// At every action's start: deletes the recorded files of earlier actions that
// lie in the temp folder, removes private folders no running process uses,
// and puts recorded asides back. A file still held stays recorded for the
// next action; an aside that cannot be put back is named in a box (owner may
// be null). Nothing waits on a hold.
void RemoveLeftoversOfEarlierActions(HWND owner);
