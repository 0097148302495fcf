// What the running process knows about itself.
#pragma once

#include <string>

#include "sys/WinTypes.h"

namespace kestrune::sys {

class IProcessEnvironment {
 public:
  virtual ~IProcessEnvironment() = default;
  // The raw command line of the process, program path included.
  virtual std::string GetCommandLineA() = 0;
  // Path of the main module; the system cuts it to capacity - 1 characters.
  virtual std::string GetModuleFileNameA(Dword capacity) = 0;
  // The current directory; empty when it does not fit capacity.
  virtual std::string GetCurrentDirectoryA(Dword capacity) = 0;
  virtual void Sleep(Dword milliseconds) = 0;
};

}  // namespace kestrune::sys
