// The half of a test that needs a process of its own (a host killed mid-run):
// the test starts its own executable with "--child=NAME", whose main then runs
// that routine instead of the tests and exits with what it returns.
#pragma once
#include <string>

using ChildRoutine = int (*)();

// Registers a routine before main runs:
//   const bool added = AddChildRoutine("name", Routine);
bool AddChildRoutine(const char* name, ChildRoutine routine);
// The command line that starts this executable as the named child.
std::string ChildCommandLine(const char* name);
