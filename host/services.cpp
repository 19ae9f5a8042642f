// The two services the host hands to initPlugin: registering a header-less
// copy in the current dataset's catalogue, and starting a ROM's emulator.
#include "host/host.h"
#include "host/host_texts.h"

// The plug-in deletes the copy as soon as this returns, so everything the host
// keeps of it is read here.
int __stdcall HostRegister(const char* path) {
  RegisterCall call = {};
  call.path = path != nullptr ? path : "";
  call.dataset = CurrentDataset();
  uint32_t crc = 0;
  call.readable = path != nullptr && FileCrc32(call.path, &crc, &call.size);
  if (call.readable) {
    call.crcText = CrcText(crc);
    AddToCatalogue(&gApp.catalogue, CatalogueEntry{call.dataset, call.crcText, call.size, BaseName(call.path)});
    SaveCatalogueFile(CataloguePath(), gApp.catalogue);
    RefreshRomList();
  }
  gApp.registerCalls.push_back(call);
  if (gApp.afterRegister != nullptr) gApp.afterRegister(call);
  return call.readable ? 1 : 0;
}

std::string EmulatorCommand(const std::string& dataset, const std::string& path) {
  char command[2048] = "";
  std::string ini = gApp.dataDir + "emulators.ini";
  DWORD length = GetPrivateProfileStringA(dataset.c_str(), "command", "", command, sizeof command, ini.c_str());
  // A command that filled the buffer may have been cut: refuse it rather than run half of it.
  if (length == 0 || length >= sizeof command - 2) return std::string();
  std::string line(command, length);
  std::string result;
  for (size_t i = 0; i < line.size(); ++i) {
    if (line[i] == '%' && i + 1 < line.size() && line[i + 1] == '1') {
      result += path;
      ++i;
    } else {
      result += line[i];
    }
  }
  return result;
}

// 1 when the emulator was started (and, when the host waits for it, ended with
// exit code 0); 0 otherwise.
int __stdcall HostLaunch(const char* path) {
  LaunchCall call = {};
  call.path = path != nullptr ? path : "";
  call.command = EmulatorCommand(CurrentDataset(), call.path);
  if (call.command.empty()) {
    MessageBoxA(gApp.window, Format(kTextNoEmulator, call.path.c_str()).c_str(), kTextHostCaption,
                MB_OK | MB_ICONINFORMATION);
    gApp.launchCalls.push_back(call);
    return 0;
  }
  std::vector<char> commandLine(call.command.begin(), call.command.end());
  commandLine.push_back('\0');
  STARTUPINFOA startup = {};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process = {};
  call.started = CreateProcessA(nullptr, commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                                &startup, &process) != FALSE;
  if (!call.started) {
    MessageBoxA(gApp.window, Format(kTextEmulatorFailed, call.command.c_str()).c_str(), kTextHostCaption,
                MB_OK | MB_ICONERROR);
    gApp.launchCalls.push_back(call);
    return 0;
  }
  call.result = 1;
  if (gApp.waitForEmulator) {
    const DWORD kEmulatorWaitMs = 30000;
    call.finished = WaitForSingleObject(process.hProcess, kEmulatorWaitMs) == WAIT_OBJECT_0;
    if (call.finished) GetExitCodeProcess(process.hProcess, &call.exitCode);
    call.result = call.finished && call.exitCode == 0 ? 1 : 0;
  }
  CloseHandle(process.hThread);
  CloseHandle(process.hProcess);
  gApp.launchCalls.push_back(call);
  return call.result;
}
