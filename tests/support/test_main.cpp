// The test executable's entry: all tests in this one process, or with
// "--child=NAME" only the routine registered under that name.
#include <gtest/gtest.h>
#include <windows.h>

#include <cstdio>
#include <cstring>

#include "support/child_process.h"

namespace {

struct Child {
  const char* name;
  ChildRoutine routine;
};
// Filled by static initialisers; zero before any of them runs.
Child children[4];
size_t childCount;

const char kChildSwitch[] = "--child=";

}  // namespace

bool AddChildRoutine(const char* name, ChildRoutine routine) {
  if (childCount >= sizeof children / sizeof children[0]) return false;
  children[childCount++] = Child{name, routine};
  return true;
}

std::string ChildCommandLine(const char* name) {
  char path[MAX_PATH];
  DWORD length = GetModuleFileNameA(nullptr, path, sizeof path);
  if (length == 0 || length >= sizeof path) return std::string();
  return "\"" + std::string(path, length) + "\" " + kChildSwitch + name;
}

int main(int argc, char** argv) {
  for (int i = 1; i < argc; ++i) {
    if (strncmp(argv[i], kChildSwitch, sizeof kChildSwitch - 1) != 0) continue;
    const char* name = argv[i] + sizeof kChildSwitch - 1;
    for (size_t c = 0; c < childCount; ++c) {
      if (strcmp(children[c].name, name) == 0) return children[c].routine();
    }
    fprintf(stderr, "no child routine named %s\n", name);
    return 2;
  }
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
