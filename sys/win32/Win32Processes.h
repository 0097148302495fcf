#pragma once

#include "sys/Processes.h"

namespace kestrune::sys::win32 {

class Win32Processes : public IProcesses {
 public:
  Dword GetShortPathNameA(const std::string& longPath, std::string* shortPath) override;
  bool CreateProcessA(const std::string& applicationName, const std::string& commandLine, bool inheritHandles,
                      Dword creationFlags, ProcessInformation* information) override;
  Dword WaitForSingleObject(ProcessHandle handle, Dword milliseconds) override;
  bool GetExitCodeProcess(ProcessHandle process, Dword* exitCode) override;
  bool CloseHandle(ProcessHandle handle) override;
  Dword GetLastError() override;
};

}  // namespace kestrune::sys::win32
