// The process's own command line, module path and current folder, and Sleep.
#pragma once

#include <windows.h>

#include <vector>

#include "sys/ProcessEnvironment.h"

namespace kestrune::sys::win32 {

class Win32ProcessEnvironment : public IProcessEnvironment {
 public:
  std::string GetCommandLineA() override { return ::GetCommandLineA(); }
  std::string GetModuleFileNameA(Dword capacity) override {
    std::vector<char> buffer(capacity + 1, '\0');
    const DWORD length = ::GetModuleFileNameA(nullptr, buffer.data(), capacity);
    return std::string(buffer.data(), length);
  }
  std::string GetCurrentDirectoryA(Dword capacity) override {
    std::vector<char> buffer(capacity + 1, '\0');
    const DWORD length = ::GetCurrentDirectoryA(capacity, buffer.data());
    return length < capacity ? std::string(buffer.data(), length) : std::string();
  }
  void Sleep(Dword milliseconds) override { ::Sleep(milliseconds); }
};

}  // namespace kestrune::sys::win32
