#include "support/archiver_switches.h"

#include <string>

bool BindArchiverSwitches(ArchiverSwitches* s) {
  HMODULE module = GetModuleHandleA("7-zip32.dll");
  if (module == nullptr) return false;
  return BindProc(module, "ArcTestReset", &s->reset) & BindProc(module, "ArcTestSetBusy", &s->setBusy) &
         BindProc(module, "ArcTestFailOpen", &s->failOpen) &
         BindProc(module, "ArcTestFailNextClose", &s->failNextClose) &
         BindProc(module, "ArcTestCallLog", &s->callLog) & BindProc(module, "ArcTestLastCommand", &s->lastCommand) &
         BindProc(module, "ArcTestLastRunOwner", &s->lastRunOwner);
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
