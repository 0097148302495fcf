#include "sys/win32/Win32SystemFolders.h"

#include <windows.h>

namespace kestrune::sys::win32 {

std::string Win32SystemFolders::GetSystemDirectoryA() {
  char buffer[MAX_PATH] = {};
  const UINT length = ::GetSystemDirectoryA(buffer, MAX_PATH);
  return length > 0 && length < MAX_PATH ? std::string(buffer, length) : std::string();
}

std::string Win32SystemFolders::GetWindowsDirectoryA() {
  char buffer[MAX_PATH] = {};
  const UINT length = ::GetWindowsDirectoryA(buffer, MAX_PATH);
  return length > 0 && length < MAX_PATH ? std::string(buffer, length) : std::string();
}

}  // namespace kestrune::sys::win32
