#include "support/archiver_switches.h"

#include <string>

bool BindArchiverSwitches(ArchiverSwitches* s) {
  HMODULE module = GetModuleHandleA("7-zip32.dll");
  if (module == nullptr) return false;
  return Bind(module, "ArcTestReset", &s->reset) & Bind(module, "ArcTestSetBusy", &s->setBusy) &
         Bind(module, "ArcTestFailOpen", &s->failOpen) & Bind(module, "ArcTestFailNextClose", &s->failNextClose) &
         Bind(module, "ArcTestCallLog", &s->callLog) & Bind(module, "ArcTestLastCommand", &s->lastCommand) &
         Bind(module, "ArcTestLastRunOwner", &s->lastRunOwner) &
         Bind(module, "ArcTestFailExtraction", &s->failExtraction) &
         Bind(module, "ArcTestOpenHandles", &s->openHandles);
}

int CountArchiverCalls(const ArchiverSwitches& switches, const char* ordinal) {
  char log[1024] = "";
  switches.callLog(log, sizeof log);
  std::string all = std::string(",") + log + ",";
  std::string needle = std::string(",") + ordinal + ",";
  int count = 0;
  for (size_t at = all.find(needle); at != std::string::npos; at = all.find(needle, at + 1)) ++count;
  return count;
}
