// The folders of one registration run: the ROM folder and, by the depth choice,
// its subfolders in depth-first pre-order. The walk goes in pieces, so that the
// run's dialog keeps answering while a large tree is listed.
#pragma once
#include <cstdint>

#include "base/file_identity.h"
#include "base/folder_listing.h"
#include "base/growable_buffer.h"
#include "base/tree_walk.h"
#include "base/text.h"

struct RunReport;

constexpr int32_t kMaxFolders = 10000;  // the root included
// The walk limit of the depth choice "全て" (all levels), and the deepest any
// depth choice walks, whatever a profile file holds.
constexpr int32_t kAllLevelsLimit = 100;

constexpr uint32_t kNoKeptEntry = UINT32_MAX;

// What the walk knows of each list entry beside its path: its identity, so
// that a link back into the tree (or any second name of a folder) is neither
// listed nor entered again, whether the walk counted its files already, and
// the files its listing found, kept so that the run need not list it again.
struct FolderFacts {
  FileIdentity identity;  // its file index only (GetFileIndex)
  bool identified;
  bool countedByWalk;
  bool listed;       // its files were counted; false when it could not be listed
  bool keptWhole;    // every file counted is kept (false once memory ran out)
  uint32_t firstKept;  // its first file's record in FolderWalk::kept, or kNoKeptEntry
  uint32_t lastKept;
};

// The run's folder list and the walk that fills it. entries and facts are one
// heap allocation each of kMaxFolders, zero-filled; each entry in use is a
// folder path ending with "\".
struct FolderWalk {
  char (*entries)[kPathSize];
  FolderFacts* facts;
  int32_t count;
  TreeWalk tree;       // a folder's tag: its list entry, for its file count; -1 for none
  int32_t depthLimit;  // subfolders deeper than this are neither listed nor entered
  int32_t countIndex;  // after the walk: the next entry whose files to count
  int32_t filesCounted;
  bool overflowNoted;
  GrowableBuffer kept;  // the files' records, each folder's chained in listing order
};

// Appends path (and a trailing "\") unless the list is full, already holds path
// exactly as given or the same folder under another name, or the entry would
// not fit a path buffer. True when it was appended. listedIndex is the file
// index the parent's listing reported for a folder that is not a link (0: it
// is asked of the folder).
bool AddFolder(FolderWalk* walk, const char* path, RunReport* report, LONGLONG listedIndex = 0);

// The walk limit for a depth choice: 0 for the root only (any choice below 1),
// 100 for "all", and never more than 100.
int32_t DepthLimitOfChoice(int32_t depthChoice);

// Starts the list with the root; the walk by depthChoice and the count of files
// in the listed folders follow in StepFolderWalk. What is passed over goes to
// report. False when the list could not be allocated.
bool BeginFolderWalk(FolderWalk* walk, const char* romFolder, int32_t depthChoice, RunReport* report);

// Does up to about maxEntries directory entries of the walk and the count.
// True once the list is complete; walk->filesCounted then holds the files
// (entries without the directory attribute) of every listed folder.
bool StepFolderWalk(FolderWalk* walk, int32_t maxEntries, RunReport* report);

// The files (entries without the directory attribute) of one list entry, in
// the order its listing found them and named as OpenListing names them,
// handed out without listing the folder again; used as a FolderListing is.
struct KeptCursor {
  bool open;
  WIN32_FIND_DATAA entry;  // the current file, after NextKeptEntry returned true
  uint32_t next;
  FolderListing listing;  // only for a folder the walk could not keep in full
};

// Starts on the files of list entry folderIndex. False when the folder could
// not be listed (the walk's listing failed, or the one made again here for a
// folder not kept in full) or is no longer there.
bool OpenKeptEntries(const FolderWalk* walk, int32_t folderIndex, KeptCursor* cursor);

// Moves to the next file; false at the end.
bool NextKeptEntry(const FolderWalk* walk, KeptCursor* cursor);

// Harmless on a cursor that is closed or was never opened.
void CloseKeptEntries(KeptCursor* cursor);

// Frees the list and ends a walk in progress; harmless when already released.
void ReleaseFolderWalk(FolderWalk* walk);
