// Files another program holds for a moment, as virus scanners and indexers do:
// a file put in place or deleted waits the hold out, within its limit, and any
// other error fails at once.
#include <gtest/gtest.h>
#include <windows.h>

#include <string>

#include "base/file_io.h"
#include "base/held_files.h"
#include "base/test_switches.h"
#include "base/text.h"
#include "support/files.h"

namespace {

TEST(HeldFiles, PutInPlaceAndDeleteWaitOutAHoldWithinTheirLimit) {
  std::string folder = MakeTempFolder("held");
  ASSERT_FALSE(folder.empty());
  std::string path = folder + "NES.fol";
  struct Case {
    DWORD holdMs;
    bool waitedOut;
  } cases[] = {{0, true}, {200, true}, {1700, false}};
  for (const Case& test : cases) {
    SCOPED_TRACE("held " + std::to_string(test.holdMs) + " ms");
    auto holdNextCall = [&] {
      CopyText(gTestSwitches.holdPathPart, sizeof gTestSwitches.holdPathPart, path.c_str());
      gTestSwitches.holdCount = test.holdMs > 0 ? 1 : 0;
      gTestSwitches.holdMs = test.holdMs;
    };
    ASSERT_TRUE(WriteBytes(path, "old"));
    holdNextCall();
    EXPECT_EQ(ReplaceFileWhole(path.c_str(), "new", 3, kWriteProfile), test.waitedOut);
    ResetTestSwitches();
    EXPECT_EQ(ReadBytes(path), test.waitedOut ? "new" : "old");
    EXPECT_FALSE(FileExists(path + ".new")) << "no aside file is left";

    if (!test.waitedOut) continue;
    holdNextCall();
    EXPECT_EQ(DeleteOwnFile(path.c_str()), test.waitedOut);
    ResetTestSwitches();
    EXPECT_FALSE(FileExists(path));
  }
  // Not a hold: a file that is not there fails on the first try.
  HoldRetry retry = {};
  EXPECT_EQ(TryMoveIntoPlace((folder + "none").c_str(), path.c_str(), &retry), kTryFailed);
  RemoveTree(folder);
}

}  // namespace
