// Child processes: GetShortPathNameA, CreateProcessA and the calls that wait
// for a process and read its exit code.
#pragma once

#include <cstdint>
#include <string>

#include "sys/Seam.h"
#include "sys/UniqueAny.h"
#include "sys/WinTypes.h"

namespace kestrune::sys {

using ProcessHandle = std::intptr_t;
inline constexpr ProcessHandle kNoProcessHandle = 0;

inline constexpr Dword kInfinite = 0xFFFFFFFF;
inline constexpr Dword kWaitObject0 = 0;
inline constexpr Dword kWaitTimeout = 0x102;
inline constexpr Dword kWaitFailed = 0xFFFFFFFF;

// PROCESS_INFORMATION: both handles belong to the caller.
struct ProcessInformation {
  ProcessHandle Process = kNoProcessHandle;
  ProcessHandle Thread = kNoProcessHandle;
  Dword ProcessId = 0;
  Dword ThreadId = 0;
};

class IProcesses {
 public:
  virtual ~IProcesses() = default;
  // The short (8.3) form of an existing path in *shortPath, and its length;
  // 0 on failure, with *shortPath untouched and the reason in GetLastError().
  virtual Dword GetShortPathNameA(const std::string& longPath, std::string* shortPath) = 0;
  // CreateProcessA with no security attributes, the caller's environment and
  // current directory, and a default STARTUPINFOA. The application name is
  // used as it is: no search path, no default extension.
  virtual bool CreateProcessA(const std::string& applicationName, const std::string& commandLine, bool inheritHandles,
                              Dword creationFlags, ProcessInformation* information) = 0;
  virtual Dword WaitForSingleObject(ProcessHandle handle, Dword milliseconds) = 0;
  virtual bool GetExitCodeProcess(ProcessHandle process, Dword* exitCode) = 0;
  virtual bool CloseHandle(ProcessHandle handle) = 0;
  virtual Dword GetLastError() = 0;
};

inline void CloseProcessHandle(ProcessHandle handle) { Use<IProcesses>().CloseHandle(handle); }

// A process or thread handle, closed when the object goes.
using UniqueProcessHandle = UniqueAny<ProcessHandle, kNoProcessHandle, CloseProcessHandle>;

}  // namespace kestrune::sys
