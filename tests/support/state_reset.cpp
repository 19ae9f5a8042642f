// Every test starts from the state the plug-in has when its library is loaded:
// the global record, the registration run and the folder list are put back
// before each one, whatever the test before it left, so that no test depends
// on running order. Registered with GoogleTest before main runs.
#include <gtest/gtest.h>

#include "base/state.h"
#include "registration/folders.h"
#include "registration/scan_dialog.h"
#include "registration/skip_list.h"

namespace {

void ResetPluginState() {
  // What a run left open is released, not merely forgotten.
  if (gScan.folderSearch != nullptr && gScan.folderSearch != INVALID_HANDLE_VALUE) FindClose(gScan.folderSearch);
  DiscardRelationFile(&gScan.relation);
  gScan = RegistrationScan();
  ClearSkipped();
  ReleaseFolderList();
  gFolders = FolderList();
  gState = PluginState();
}

class StateReset : public ::testing::EmptyTestEventListener {
  void OnTestStart(const ::testing::TestInfo&) override { ResetPluginState(); }
};

const bool registered = [] {
  ::testing::UnitTest::GetInstance()->listeners().Append(new StateReset);
  return true;
}();

}  // namespace
