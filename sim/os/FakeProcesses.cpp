#include "sim/os/FakeProcesses.h"

namespace kestrune::sim {

sys::Dword FakeProcesses::GetShortPathNameA(const std::string& longPath, std::string* shortPath) {
  const auto it = Programs.find(longPath);
  if (it == Programs.end()) {
    LastError = sys::kErrorFileNotFound;
    return 0;
  }
  *shortPath = it->second.ShortPath.empty() ? longPath : it->second.ShortPath;
  return static_cast<sys::Dword>(shortPath->size());
}

bool FakeProcesses::CreateProcessA(const std::string& applicationName, const std::string& commandLine,
                                   bool inheritHandles, sys::Dword creationFlags,
                                   sys::ProcessInformation* information) {
  const auto it = Programs.find(applicationName);
  if (it == Programs.end()) {
    LastError = sys::kErrorFileNotFound;
    if (Log != nullptr) {
      Log->Add("start failed " + commandLine);
    }
    return false;
  }
  Starts.push_back({applicationName, commandLine, inheritHandles, creationFlags});
  if (Log != nullptr) {
    Log->Add("start " + commandLine);
  }
  information->Process = NextHandle++;
  information->Thread = NextHandle++;
  information->ProcessId = static_cast<sys::Dword>(Starts.size());
  information->ThreadId = static_cast<sys::Dword>(Starts.size());
  OpenHandles.insert(information->Process);
  OpenHandles.insert(information->Thread);
  ExitCodes[information->Process] = it->second.ExitCode;
  RunningFor[information->Process] = it->second.TimedWaitsBeforeExit;
  return true;
}

sys::Dword FakeProcesses::WaitForSingleObject(sys::ProcessHandle handle, sys::Dword milliseconds) {
  Waits.push_back(milliseconds);
  if (FailWaits || OpenHandles.count(handle) == 0) {
    LastError = sys::kErrorInvalidHandle;
    return sys::kWaitFailed;
  }
  int& left = RunningFor[handle];
  if (left > 0 && milliseconds != sys::kInfinite) {
    --left;
    return sys::kWaitTimeout;
  }
  left = 0;  // an endless wait lasts until the child ends
  return sys::kWaitObject0;
}

bool FakeProcesses::GetExitCodeProcess(sys::ProcessHandle process, sys::Dword* exitCode) {
  const auto it = ExitCodes.find(process);
  if (it == ExitCodes.end() || OpenHandles.count(process) == 0) {
    LastError = sys::kErrorInvalidHandle;
    return false;
  }
  constexpr sys::Dword kStillActive = 259;
  *exitCode = RunningFor[process] > 0 ? kStillActive : it->second;
  return true;
}

bool FakeProcesses::CloseHandle(sys::ProcessHandle handle) {
  if (OpenHandles.erase(handle) == 0) {
    LastError = sys::kErrorInvalidHandle;
    return false;
  }
  return true;
}

}  // namespace kestrune::sim
