// Every test starts from the state the plug-in has when its library is loaded:
// the global record is put back before each one, whatever the test before it
// left, so that no test depends on running order. A run lives only as long as
// its dialog, so nothing of one can be left over. Registered with GoogleTest
// before main runs.
#include <gtest/gtest.h>

#include "base/state.h"

namespace {

void ResetPluginState() { gState = PluginState(); }

class StateReset : public ::testing::EmptyTestEventListener {
  void OnTestStart(const ::testing::TestInfo&) override { ResetPluginState(); }
};

const bool registered = [] {
  ::testing::UnitTest::GetInstance()->listeners().Append(new StateReset);
  return true;
}();

}  // namespace
