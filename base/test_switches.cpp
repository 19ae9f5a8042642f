#include "base/test_switches.h"

#ifdef CORVANE_TEST_SWITCHES
TestSwitches gTestSwitches;
#endif
