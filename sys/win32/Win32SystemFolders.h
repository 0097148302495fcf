// The system and Windows folders.
#pragma once

#include <windows.h>

#include "sys/SystemFolders.h"

namespace kestrune::sys::win32 {

class Win32SystemFolders : public ISystemFolders {
 public:
  std::string GetSystemDirectoryA() override { return Folder(::GetSystemDirectoryA); }
  std::string GetWindowsDirectoryA() override { return Folder(::GetWindowsDirectoryA); }

 private:
  static std::string Folder(UINT(WINAPI* query)(LPSTR, UINT)) {
    char buffer[MAX_PATH] = {};
    const UINT length = query(buffer, MAX_PATH);
    return length > 0 && length < MAX_PATH ? std::string(buffer, length) : std::string();
  }
};

}  // namespace kestrune::sys::win32
