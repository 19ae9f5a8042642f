// The plug-in's private folders: "corvane-<process>-<n>", made fresh for one
// extraction or copy in the temp folder or a user's extraction folder,
// recorded with their identity (own_record.h) and removed whole. A shared
// folder's contents are never taken for the plug-in's from their names.
#pragma once
#include <windows.h>

#include <cstddef>

#include "base/file_identity.h"
#include "base/held_files.h"
#include "base/own_record.h"
#include "base/text.h"
#include "base/tree_walk.h"

// Makes a fresh, empty folder of the plug-in's in parent (ending with "\"),
// and records it wherever it is; its path, with the final "\", goes into
// folder. False when none could be made. Until its removal begins, the start
// of another action leaves it alone.
bool MakePrivateFolder(const char* parent, char* folder, size_t size);

// Whether name is exactly "corvane-<process>-<n>" (decimal digits only, no
// sign, nothing more); *process is the number then.
bool ParsePrivateFolderName(const char* name, DWORD* process);

// A private folder's removal, a few entries per step, so that a dialog can
// spread a large one over its ticks. Nothing waits: a file another program
// holds is handed to held (which may try it again later) and its folders
// stay, for the next action to remove. A folder link inside is removed as a
// link, never followed.
struct FolderRemoval {
  TreeWalk walk;
  void (*held)(void* context, const char* path) = nullptr;  // may be null: the file is left
  void* heldContext = nullptr;
  char folder[kPathSize] = "";
  FileIdentity identity = {};  // the folder's, forgotten in the record once it is gone
  bool identified = false;
  bool underWay = false;
};

// Starts removing folder (ending with "\") and all below it. One still under
// way is ended first.
void StartFolderRemoval(FolderRemoval* removal, const char* folder, void (*held)(void* context, const char* path),
                        void* heldContext);
// Removes up to maxEntries entries. True when nothing is left to do.
bool StepFolderRemoval(FolderRemoval* removal, int maxEntries);
// Removes the rest at once. Harmless when nothing is under way.
void EndFolderRemoval(FolderRemoval* removal);
// The same at once, for a folder (with or without its final "\"), held files
// left. True when it is gone. Only for a folder the caller made or proved its
// own: everything below it is deleted, read-only files too.
bool RemoveFolderTree(const char* path);
