// File, folder and text helpers shared by the tests, the demo host and the
// benchmarks. Paths and texts are code page 932 (the ANSI code page the
// plug-in works in) unless a name says otherwise.
#pragma once
#include <windows.h>

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

// A fresh folder below the temporary folder, "" on failure; ends with "\".
std::string MakeTempFolder(const char* tag);
// The same on a memory disk where there is one (Z:\dev\shm\), for tests whose
// time goes into file calls: on a loaded disk each costs several times more.
std::string MakeScratchFolder(const char* tag);
// Deletes the folder (with or without its trailing "\") and all below it.
void RemoveTree(const std::string& path);

// Writes the bytes as the whole file through WriteFile; false when a write or
// the close failed.
bool WriteBytes(const std::string& path, const void* bytes, size_t size);
bool WriteBytes(const std::string& path, const std::string& bytes);
// The whole file; false (and bytes empty) when it cannot be opened or read.
bool ReadBytes(const std::string& path, std::string* bytes);
std::string ReadBytes(const std::string& path);  // "" when missing

// Repeatable pseudo-random numbers (xorshift32): the same sequence from the
// same nonzero state on every run.
uint32_t NextRandom(uint32_t* state);
// size pseudo-random bytes, the same for the same seed (any seed, 0 included).
std::string RandomBytes(size_t size, uint32_t seed);

// The wide "\\?\" form of a code page 932 path, which the wide interface does
// not hold to MAX_PATH: for making paths the plug-in must refuse.
std::wstring LongPath(const std::string& cp932);

bool FileExists(const std::string& path);
bool FolderExists(const std::string& path);
long long FileSizeOf(const std::string& path);  // -1 when missing
// The entry names of a folder ("." and ".." left out) in the directory search's
// own order (never assumed sorted): all of them, only files, or only folders.
enum EntryKind { kAllEntries, kFilesOnly, kFoldersOnly };
std::vector<std::string> FolderEntries(const std::string& folder, EntryKind kind = kAllEntries);

// Every file and folder below folder, as sorted relative paths ("sub\\" for a
// folder, "name = bytes" for a file): equal listings mean nothing was added,
// removed or changed.
std::vector<std::string> FolderTree(const std::string& folder);

// Wine's own mapping of a path to the Unix one ("/tmp/x" for "Z:\\tmp\\x"), ""
// when there is none.
std::string UnixPathOf(const std::string& path);
// The Z: spelling of a path: Wine maps Z: to the Unix root, so this is another
// name of the same place. Keeps a final "\"; "" when there is none.
std::string ZDriveSpelling(const std::string& path);
// A symbolic link at link to target made on the Unix side, as a user's own
// link or junction would stand; false when it could not be made.
bool MakeUnixLink(const std::string& target, const std::string& link);

// The folder of the running executable, where Corvane.dll and 7-zip32.dll lie (ends with "\").
std::string BinFolder();
// The folder of build-time sample files made by the real tools (ends with "\").
std::string FixturesFolder();
std::string FixturePath(const char* name);

// Text between code pages, invalid bytes replaced; "" when nothing converts.
std::string ConvertCodePage(const std::string& text, UINT from, UINT to);
// For comparing with u8"..." literals independently of the plug-in's own
// constants; "<unconvertible>" when the text is not valid in its code page.
std::string Cp932(const char* utf8);
std::string Utf8(const std::string& cp932);

// Writes bytes to a file whose path is exactly length bytes and ends with
// extension, in folders made below base (ending in "\"); the path, or "" on failure.
std::string WriteAtPathOfLength(size_t length, const std::string& base, const std::string& extension,
                                const std::string& bytes);

// Holds path as another program would (a virus scanner, an indexer): a thread
// of its own waits up to waitMs for the file to appear, opens it sharing read
// and write but not delete, keeps it open for ms and closes it. Returns once
// the file is held, or the wait ended without it. ReleaseFileHolds ends every
// hold at once and returns when they are closed (for a test's end).
bool HoldFileFor(const std::string& path, DWORD ms, DWORD waitMs = 0);
void ReleaseFileHolds();
