// The process's own command line, module path and current folder, and Sleep.
#pragma once

#include "sys/ProcessEnvironment.h"

namespace kestrune::sys::win32 {

class Win32ProcessEnvironment : public IProcessEnvironment {
 public:
  std::string GetCommandLineA() override;
  std::string GetModuleFileNameA(Dword capacity) override;
  std::string GetCurrentDirectoryA(Dword capacity) override;
  void Sleep(Dword milliseconds) override;
};

}  // namespace kestrune::sys::win32
