// Files another program holds for a moment, as virus scanners and indexers do:
// an open, a move into place or a delete waits the hold out, within its limit,
// and a lasting error fails at once. The holds are real handles that another
// thread keeps open.
#include <gtest/gtest.h>
#include <windows.h>

#include <algorithm>
#include <functional>
#include <string>

#include "base/file_io.h"
#include "base/held_files.h"
#include "base/test_switches.h"
#include "base/text.h"
#include "base/texts.h"
#include "registration_run.h"
#include "support/files.h"

namespace {

TEST(HeldFiles, EachOperationWaitsOutAHoldWithinItsLimit) {
  std::string folder = MakeScratchFolder("held");
  ASSERT_FALSE(folder.empty());
  std::string path = folder + "NES.fol";
  std::string other = folder + "moved.bin";
  struct Case {
    const char* what;
    DWORD holdMs;
    std::function<bool()> act;
    bool done;
    std::string after;  // path's content afterwards; "-" when it is gone
  };
  const Case cases[] = {
      {"replaced", 200, [&] { return ReplaceFileWhole(path.c_str(), "new", 3, kWriteProfile); }, true, "new"},
      {"replaced, held past the tries", 2500, [&] { return ReplaceFileWhole(path.c_str(), "new", 3, kWriteProfile); },
       false, "old"},
      {"deleted", 200, [&] { return DeleteFileWaitingOutHolds(path.c_str()); }, true, "-"},
      {"moved", 200, [&] { return MoveOwnFile(path.c_str(), other.c_str(), 0); }, true, "-"},
      // An indexer's hold of a second and a half, as a run starts.
      {"opened as a source", 1500,
       [&] {
         HANDLE file = OpenSource(path.c_str(), 0);
         if (file != INVALID_HANDLE_VALUE) CloseHandle(file);
         return file != INVALID_HANDLE_VALUE;
       },
       true, "old"},
  };
  for (const Case& test : cases) {
    SCOPED_TRACE(test.what);
    DeleteFileA(other.c_str());
    ASSERT_TRUE(WriteBytes(path, "old"));
    ASSERT_TRUE(HoldFileFor(path, test.holdMs));
    EXPECT_EQ(test.act(), test.done);
    ReleaseFileHolds();
    EXPECT_EQ(FileExists(path) ? ReadBytes(path) : "-", test.after);
    EXPECT_FALSE(FileExists(path + ".new")) << "no aside file is left";
  }
  RemoveTree(folder);
}

// One try each: a hold asks for a later try; what no wait changes fails at once.
TEST(HeldFiles, LastingErrorsFailOnTheFirstTry) {
  std::string folder = MakeScratchFolder("lasting");
  ASSERT_FALSE(folder.empty());
  std::string file = folder + "file.bin", free = folder + "free.bin", readOnly = folder + "readonly.bin",
              sub = folder + "sub";
  ASSERT_TRUE(WriteBytes(file, "x"));
  ASSERT_TRUE(WriteBytes(free, "z"));
  ASSERT_TRUE(WriteBytes(readOnly, "y"));
  ASSERT_TRUE(SetFileAttributesA(readOnly.c_str(), FILE_ATTRIBUTE_READONLY));
  ASSERT_TRUE(CreateDirectoryA(sub.c_str(), nullptr));
  FileIdentity readOnlyIdentity = {}, fileIdentity = {};
  ASSERT_TRUE(GetFileIdentity(readOnly.c_str(), &readOnlyIdentity) && GetFileIdentity(file.c_str(), &fileIdentity));
  std::string refusing = folder + "refusing\\";
  ASSERT_TRUE(CreateDirectoryA(refusing.c_str(), nullptr));
  HANDLE opened = INVALID_HANDLE_VALUE;
  struct Case {
    const char* what;
    std::function<TryResult(HoldRetry*)> attempt;
    TryResult expected;
  };
  const Case cases[] = {
      {"move from nothing", [&](HoldRetry* r) { return TryMoveOwnFile((folder + "none").c_str(), file.c_str(), 0, r); },
       kTryFailed},
      {"move onto a folder", [&](HoldRetry* r) { return TryMoveIntoPlace(free.c_str(), sub.c_str(), r); }, kTryFailed},
      {"delete a read-only file not proven ours", [&](HoldRetry* r) { return TryDeleteFile(readOnly.c_str(), r); },
       kTryFailed},
      {"delete a file proven ours where another now stands",
       [&](HoldRetry* r) { return TryDeleteProvenFile(free.c_str(), readOnlyIdentity, -1, false, r); }, kTryDone},
      {"delete a file proven ours, grown past its length",
       [&](HoldRetry* r) { return TryDeleteProvenFile(readOnly.c_str(), readOnlyIdentity, 0, true, r); }, kTryDone},
      {"delete a read-only file proven ours",
       [&](HoldRetry* r) { return TryDeleteProvenFile(readOnly.c_str(), readOnlyIdentity, 1, true, r); }, kTryDone},
      {"delete a held file proven ours",
       [&](HoldRetry* r) { return TryDeleteProvenFile(file.c_str(), fileIdentity, -1, false, r); }, kTryLater},
      {"create over a file", [&](HoldRetry* r) { return TryCreateNewFile(free.c_str(), GENERIC_WRITE, 0, r, &opened); },
       kTryFailed},
      // As a name whose file waits to be deleted refuses on Windows, while
      // its folder takes other names.
      {"create refused at one name only",
       [&](HoldRetry* r) {
         CopyText(gTestSwitches.createRefusedPathPart, sizeof gTestSwitches.createRefusedPathPart, "pending.bin");
         return TryCreateNewFile((folder + "pending.bin").c_str(), GENERIC_WRITE, 0, r, &opened);
       },
       kTryLater},
      {"create in a folder that refuses every create",
       [&](HoldRetry* r) {
         CopyText(gTestSwitches.createRefusedPathPart, sizeof gTestSwitches.createRefusedPathPart, refusing.c_str());
         return TryCreateNewFile((refusing + "a.nes").c_str(), GENERIC_WRITE, 0, r, &opened);
       },
       kTryFailed},
      {"open a folder as a source", [&](HoldRetry* r) { return TryOpenSource(sub.c_str(), 0, r, &opened); },
       kTryFailed},
      {"open nothing", [&](HoldRetry* r) { return TryOpenSource((folder + "none").c_str(), 0, r, &opened); },
       kTryFailed},
      {"delete a folder", [&](HoldRetry* r) { return TryDeleteFile(sub.c_str(), r); }, kTryFailed},
      {"replace check on a folder", [&](HoldRetry* r) { return TryCheckReplaceable(sub.c_str(), r); }, kTryFailed},
      {"delete a held file", [&](HoldRetry* r) { return TryDeleteFile(file.c_str(), r); }, kTryLater},
      {"open a held file alone", [&](HoldRetry* r) { return TryOpenSource(file.c_str(), 0, r, &opened); }, kTryLater},
  };
  ASSERT_TRUE(HoldFileFor(file, 500));
  for (const Case& test : cases) {
    HoldRetry retry = {};
    EXPECT_EQ(test.attempt(&retry), test.expected) << test.what;
    EXPECT_EQ(opened, INVALID_HANDLE_VALUE) << test.what;
    // Not due yet: nothing is touched.
    if (test.expected == kTryLater) {
      EXPECT_EQ(test.attempt(&retry), kTryLater) << test.what;
    }
  }
  ReleaseFileHolds();
  EXPECT_TRUE(FileExists(file));
  EXPECT_EQ(ReadBytes(free), "z");
  EXPECT_FALSE(FileExists(readOnly));
  EXPECT_EQ(FolderEntries(refusing), std::vector<std::string>{}) << "the probe leaves nothing";
  RemoveTree(folder);
}

// A temp folder that refuses every create (read-only, or not the user's to
// write in) is no hold: each ROM is passed over at once with its reason.
TEST_F(RegistrationRun, AFolderThatRefusesEveryCreateFailsEachCopyAtOnce) {
  std::vector<std::string> expected;
  for (int i = 0; i < 30; ++i) {
    std::string name = "r" + std::to_string(i) + ".nes";
    Write(name, Rom(std::to_string(i)));
    expected.push_back(std::string(u8"コピーできません\t") + Utf8(roms) + name);
  }
  CopyText(gTestSwitches.createRefusedPathPart, sizeof gTestSwitches.createRefusedPathPart, temp.c_str());
  AddRoms();
  EXPECT_TRUE(gHost.registerCalls.empty());
  std::vector<std::string> lines = LogLines();
  std::sort(lines.begin(), lines.end());
  std::sort(expected.begin(), expected.end());
  EXPECT_EQ(lines, expected);
}

}  // namespace
