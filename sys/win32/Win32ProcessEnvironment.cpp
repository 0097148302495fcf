#include "sys/win32/Win32ProcessEnvironment.h"

#include <windows.h>

#include <vector>

namespace kestrune::sys::win32 {

std::string Win32ProcessEnvironment::GetCommandLineA() { return ::GetCommandLineA(); }

std::string Win32ProcessEnvironment::GetModuleFileNameA(Dword capacity) {
  std::vector<char> buffer(capacity + 1, '\0');
  const DWORD length = ::GetModuleFileNameA(nullptr, buffer.data(), capacity);
  return std::string(buffer.data(), length);
}

std::string Win32ProcessEnvironment::GetCurrentDirectoryA(Dword capacity) {
  std::vector<char> buffer(capacity + 1, '\0');
  const DWORD length = ::GetCurrentDirectoryA(capacity, buffer.data());
  return length < capacity ? std::string(buffer.data(), length) : std::string();
}

void Win32ProcessEnvironment::Sleep(Dword milliseconds) { ::Sleep(milliseconds); }

}  // namespace kestrune::sys::win32
