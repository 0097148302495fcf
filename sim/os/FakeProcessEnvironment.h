// The process's own command line, module path and current folder; Sleep is recorded.
#pragma once

#include <string>
#include <vector>

#include "sys/ProcessEnvironment.h"

namespace kestrune::sim {

class FakeProcessEnvironment : public sys::IProcessEnvironment {
 public:
  std::string GetCommandLineA() override { return CommandLine; }
  std::string GetModuleFileNameA(sys::Dword capacity) override {
    return ModulePath.substr(0, capacity == 0 ? 0 : capacity - 1);
  }
  std::string GetCurrentDirectoryA(sys::Dword capacity) override {
    return CurrentDirectory.size() < capacity ? CurrentDirectory : std::string();
  }
  void Sleep(sys::Dword milliseconds) override { Sleeps.push_back(milliseconds); }

  std::string CommandLine = "C:\\Tools\\Kestrune.exe";
  std::string ModulePath = "C:\\Tools\\Kestrune.exe";
  std::string CurrentDirectory = "C:\\Tools";
  std::vector<sys::Dword> Sleeps;
};

}  // namespace kestrune::sim
