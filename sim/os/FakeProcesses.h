// Child processes in memory: a set of program files that "run" at once, or
// for a number of timed waits, and end with a given exit code.
#pragma once

#include <map>
#include <set>
#include <string>
#include <vector>

#include "sim/os/EventLog.h"
#include "sys/Processes.h"

namespace kestrune::sim {

class FakeProcesses : public sys::IProcesses {
 public:
  explicit FakeProcesses(EventLog* log = nullptr) : Log(log) {}

  sys::Dword GetShortPathNameA(const std::string& longPath, std::string* shortPath) override;
  bool CreateProcessA(const std::string& applicationName, const std::string& commandLine, bool inheritHandles,
                      sys::Dword creationFlags, sys::ProcessInformation* information) override;
  sys::Dword WaitForSingleObject(sys::ProcessHandle handle, sys::Dword milliseconds) override;
  bool GetExitCodeProcess(sys::ProcessHandle process, sys::Dword* exitCode) override;
  bool CloseHandle(sys::ProcessHandle handle) override;
  sys::Dword GetLastError() override { return LastError; }

  // The program files that exist, by full path.
  struct Program {
    sys::Dword ExitCode = 0;
    std::string ShortPath;         // empty: the volume keeps no short names
    int TimedWaitsBeforeExit = 0;  // timed waits that time out before it ends
  };
  std::map<std::string, Program> Programs;

  struct Start {
    std::string ApplicationName;
    std::string CommandLine;
    bool InheritHandles = false;
    sys::Dword CreationFlags = 0;
  };
  std::vector<Start> Starts;
  std::vector<sys::Dword> Waits;  // the timeout of each wait
  bool FailWaits = false;
  std::set<sys::ProcessHandle> OpenHandles;

 private:
  EventLog* Log;
  sys::Dword LastError = 0;
  sys::ProcessHandle NextHandle = 0x100;
  std::map<sys::ProcessHandle, sys::Dword> ExitCodes;  // process handle -> exit code
  std::map<sys::ProcessHandle, int> RunningFor;        // process handle -> timed waits left
};

}  // namespace kestrune::sim
