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

static std::string Trim(const std::string& text) {
  size_t first = text.find_first_not_of(" \t");
  if (first == std::string::npos) return std::string();
  size_t last = text.find_last_not_of(" \t");
  return text.substr(first, last - first + 1);
}

// Read by hand rather than with GetPrivateProfileStringA, which strips the
// outer quotation marks of a value such as "C:\emu.exe" "%1" and so breaks
// the command line.
static std::string ConfiguredCommand(const std::string& dataset) {
  std::string bytes;
  if (!ReadBytes(gApp.dataDir + "emulators.ini", &bytes)) return std::string();
  bool inSection = false;
  size_t start = 0;
  while (start < bytes.size()) {
    size_t end = bytes.find('\n', start);
    if (end == std::string::npos) end = bytes.size();
    std::string line = Trim(bytes.substr(start, end - start));
    start = end + 1;
    if (!line.empty() && line.back() == '\r') line = Trim(line.substr(0, line.size() - 1));
    if (line.empty() || line[0] == ';') continue;
    if (line[0] == '[') {
      inSection = line.back() == ']' && lstrcmpiA(line.substr(1, line.size() - 2).c_str(), dataset.c_str()) == 0;
      continue;
    }
    size_t equals = line.find('=');
    if (inSection && equals != std::string::npos && lstrcmpiA(Trim(line.substr(0, equals)).c_str(), "command") == 0)
      return Trim(line.substr(equals + 1));
  }
  return std::string();
}

std::string EmulatorCommand(const std::string& dataset, const std::string& path) {
  std::string line = ConfiguredCommand(dataset);
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
  call.started = CreateProcessA(nullptr, commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                                &process) != FALSE;
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
